#include "proc_stat.h"

#include <cstdio>
#include <sstream>

namespace compare {

bool ParseProcStatTicks(const std::string& text, uint64_t& ticks) {
    // The command name (field 2) is in parentheses and may hold spaces and
    // parentheses itself; the fields after the last ')' are plain numbers.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    uint64_t utime = 0;
    uint64_t stime = 0;
    // Field 3 (state) is the first after the name; utime is field 14.
    for (int number = 3; number <= 15; ++number) {
        if (!(fields >> field)) return false;
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    ticks = utime + stime;
    return true;
}

bool ReadProcStatTicks(const std::string& path, uint64_t& ticks) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char text[1024];
    const size_t got = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[got] = '\0';
    try {
        return ParseProcStatTicks(text, ticks);
    } catch (...) {
        return false;
    }
}

}  // namespace compare
