// The parts of the platform layer that need no system call.
#include "Platform.h"

#include "text/Codepage.h"

namespace platform {

void ToDosDateTime(int year, int month, int day, int hour, int minute, int second,
                   std::uint16_t& dosDate, std::uint16_t& dosTime) {
    if (year < 1980) {
        year = 1980; month = 1; day = 1; hour = 0; minute = 0; second = 0;
    }
    if (year > 2107) year = 2107;  // the 7-bit year field ends there
    dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    dosTime = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

std::string RandomHex(std::size_t bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string random(bytes, '\0');
    FillRandom(random.data(), random.size());
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char b : random) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string FullPath1251(const fs::path& path) {
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    return text::PathTo1251(ec ? path : full);
}

}  // namespace platform
