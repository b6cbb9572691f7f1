#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "platform/platform.h"

// Heap array of `count` records, or null when the memory is not there or its
// size does not fit the address space (a 0x0FFFFFFF-byte buffer in 1-byte
// blocks needs hundreds of millions of entries).
template <typename Record>
Record* AllocateTable(uint64_t count) {
    constexpr uint64_t kMaxCount = std::numeric_limits<std::size_t>::max() / sizeof(Record);
    if (count == 0 || count > kMaxCount) return nullptr;
    return static_cast<Record*>(PlatformAllocate(static_cast<std::size_t>(count) * sizeof(Record)));
}

template <typename Record>
void FreeTable(Record*& table) {
    PlatformFree(table);
    table = nullptr;
}
