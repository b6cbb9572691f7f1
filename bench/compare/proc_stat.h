// Reading a process's CPU time from a Linux /proc/<pid>/stat file.
#pragma once

#include <cstdint>
#include <string>

namespace compare {

// utime + stime (fields 14 and 15), in clock ticks.
bool ReadProcStatTicks(const std::string& path, uint64_t& ticks);

// The same from the text of such a file.
bool ParseProcStatTicks(const std::string& text, uint64_t& ticks);

}  // namespace compare
