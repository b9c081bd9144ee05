// The parts of the platform layer that are the same on every system.
#include "Platform.h"

#include "PlatformDetail.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace platform {

namespace detail {

void ThrowFileError(std::string_view pattern, const fs::path& path, int code) {
    throw text::TFileError(std::string(pattern), FullPath1251(path), SystemErrorText(code));
}

}  // namespace detail

void TFile::WriteAll(const void* data, std::size_t size) {
    if (Write(data, size) != size) throw text::TError("Stream write error");
}

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

fs::path CreateUniqueDirectory(const fs::path& parent, std::string_view prefix) {
    // 64 random bits make a clash all but impossible; a few tries cover a
    // directory that happens to exist.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(prefix) + RandomHex(8);
        const fs::path dir = parent / fs::path(text::Cp1251ToUtf16(name));
        const int code = detail::MakePrivateDirectory(dir);
        if (code == 0) return dir;
        if (code != detail::AlreadyExistsCode()) detail::ThrowFileError("Cannot create file \"%s\". %s", dir, code);
    }
    detail::ThrowFileError("Cannot create file \"%s\". %s", parent, detail::AlreadyExistsCode());
}

}  // namespace platform
