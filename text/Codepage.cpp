#include "Codepage.h"

#include <array>
#include <cstdint>

#include "CodepageTables.h"

namespace text {
namespace {

// Reverse table of a single-byte page: UTF-16 unit -> byte, 0 where the page
// has no such character (U+0000 itself maps to 0 as well, which is right).
using ReverseTable = std::array<std::uint8_t, 0x10000>;

ReverseTable BuildReverse(const char16_t (&high)[128]) {
    ReverseTable t{};
    for (int b = 0; b < 0x80; ++b) t[b] = static_cast<std::uint8_t>(b);
    for (int i = 0; i < 128; ++i) t[high[i]] = static_cast<std::uint8_t>(0x80 + i);
    return t;
}

const ReverseTable& Reverse1251() {
    static const ReverseTable t = BuildReverse(detail::kCp1251High);
    return t;
}

const ReverseTable& Reverse866() {
    static const ReverseTable t = BuildReverse(detail::kCp866High);
    return t;
}

std::string EncodeSingleByte(std::u16string_view s, const ReverseTable& t, char fallback) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s) {
        const std::uint8_t b = t[c];
        out += (b == 0 && c != 0) ? fallback : static_cast<char>(b);
    }
    return out;
}

char16_t Decode1251(unsigned char b) {
    return b < 0x80 ? char16_t(b) : detail::kCp1251High[b - 0x80];
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::u16string Cp1251ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) out += Decode1251(static_cast<unsigned char>(c));
    return out;
}

std::u16string Cp866ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        out += b < 0x80 ? char16_t(b) : detail::kCp866High[b - 0x80];
    }
    return out;
}

std::string Utf16ToCp1251(std::u16string_view s, char fallback) {
    return EncodeSingleByte(s, Reverse1251(), fallback);
}

std::string Utf16ToCp866(std::u16string_view s, char fallback) {
    return EncodeSingleByte(s, Reverse866(), fallback);
}

std::string Cp1251ToCp866(std::string_view s, char fallback) {
    return Utf16ToCp866(Cp1251ToUtf16(s), fallback);
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        char32_t c;
        int extra;
        char32_t min;
        if (b < 0x80) { c = b; extra = 0; min = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; min = 0x800; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; min = 0x10000; }
        else { out += u'\xFFFD'; ++i; continue; }
        int k = 1;
        for (; k <= extra && i + k < s.size(); ++k) {
            const unsigned char cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) break;
            c = (c << 6) | (cb & 0x3F);
        }
        if (k <= extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\xFFFD';
            i += k;  // skip the lead byte and the continuation bytes read so far
            continue;
        }
        i += 1 + extra;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (char c : s) AppendUtf8(out, Decode1251(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf8ToCp1251(std::string_view s, char fallback) {
    return Utf16ToCp1251(Utf8ToUtf16(s), fallback);
}

std::filesystem::path PathFrom1251(std::string_view s) {
    // libstdc++ and MSVC both convert a char16_t string to the native form
    // (UTF-16 on Windows, UTF-8 on POSIX).
    return std::filesystem::path(Cp1251ToUtf16(s));
}

std::string PathTo1251(const std::filesystem::path& p) {
    return Utf16ToCp1251(p.u16string());
}

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 0x20;
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;  // А..Я
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;  // Ѐ..Џ, Ё among them
    if (c == 0x0490) return 0x0491;                   // Ґ
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return c + 0x20;
    return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

}  // namespace text
