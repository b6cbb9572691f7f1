#include <cstdlib>

#include "platform.h"

void* PlatformAllocate(std::size_t bytes) { return std::malloc(bytes); }

void PlatformFree(void* memory) { std::free(memory); }
