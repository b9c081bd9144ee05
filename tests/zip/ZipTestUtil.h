#pragma once
// Helpers of the ZIP writer's tests: a private temporary directory, files,
// file times, little-endian reads, and the test data the archives hold.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace ziptest {

namespace fs = std::filesystem;

class TTempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = platform::CreateUniqueDirectory(fs::temp_directory_path(), "zip-test-");
        Src = Dir / "src";
        fs::create_directories(Src);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    void Write(const fs::path& name, const std::string& content) {
        std::ofstream(Src / name, std::ios::binary) << content;
    }
    fs::path Dir;
    fs::path Src;
};

// Sets the last-write time of `path` to a local time (the C library's mktime).
inline void SetLocalTime(const fs::path& path, int year, int month, int day, int hour, int minute, int second) {
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    fs::last_write_time(path, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
}

// An MS-DOS date and time of `t` in local time packed as one number
// (date high, time low) that grows with time, computed here from the C
// library's localtime_r, apart from the product's conversion.
inline std::uint32_t DosStamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    const std::uint32_t date = ((local.tm_year + 1900 - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday;
    const std::uint32_t time = (local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2);
    return (date << 16) | time;
}

// `bytes` as lower-case hexadecimal digits, two a byte: how the readers'
// scripts take a password on their command line.
inline std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += kDigits[c >> 4];
        s += kDigits[c & 15];
    }
    return s;
}

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::uint64_t Le(const std::string& s, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
    return v;
}

// Text of a little-endian field, for building expected records by hand.
inline std::string L16(std::uint64_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
inline std::string L32(std::uint64_t v) { return L16(v & 0xFFFF) + L16((v >> 16) & 0xFFFF); }
inline std::string L64(std::uint64_t v) { return L32(v & 0xFFFFFFFF) + L32(v >> 32); }

// Text that looks like XML: compresses well.
inline std::string XmlLike(std::size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i)
        s += "<Item Format=\"" + std::to_string(i % 37) + "\" Size=\"" + std::to_string(i * 7919 % 100003) +
             "\">AQID" + std::to_string(i) + "</Item>\n";
    s.resize(size);
    return s;
}

// Bytes Deflate cannot shrink.
inline std::string Noise(std::size_t size, std::uint32_t seed) {
    std::string s(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace ziptest
