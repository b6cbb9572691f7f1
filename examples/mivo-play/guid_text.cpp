#include "guid_text.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr size_t kBareLength = 36;  // 32 hex digits and 4 dashes

bool ReadHex(const std::string& text, size_t at, size_t digits, uint64_t& value) {
    value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isxdigit(c) == 0) return false;
        const int nibble = std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10;
        value = value * 16 + static_cast<uint64_t>(nibble);
    }
    return true;
}

}  // namespace

std::string GuidText(const GUID& guid) {
    char text[kBareLength + 3];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool ParseGuid(const std::string& text, GUID& guid) {
    std::string bare = text;
    if (bare.size() == kBareLength + 2 && bare.front() == '{' && bare.back() == '}') {
        bare = bare.substr(1, kBareLength);
    }
    if (bare.size() != kBareLength || bare[8] != '-' || bare[13] != '-' || bare[18] != '-' ||
        bare[23] != '-') {
        return false;
    }
    uint64_t data1 = 0;
    uint64_t data2 = 0;
    uint64_t data3 = 0;
    if (!ReadHex(bare, 0, 8, data1) || !ReadHex(bare, 9, 4, data2) ||
        !ReadHex(bare, 14, 4, data3)) {
        return false;
    }
    GUID parsed{};
    parsed.Data1 = static_cast<uint32_t>(data1);
    parsed.Data2 = static_cast<uint16_t>(data2);
    parsed.Data3 = static_cast<uint16_t>(data3);
    // Data4: two bytes before the last dash, six after it.
    constexpr size_t kData4At[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (size_t i = 0; i < 8; ++i) {
        uint64_t byte = 0;
        if (!ReadHex(bare, kData4At[i], 2, byte)) return false;
        parsed.Data4[i] = static_cast<uint8_t>(byte);
    }
    guid = parsed;
    return true;
}

bool IsNullGuid(const GUID& guid) { return IsEqualGUID(guid, GUID{}); }
