#include "Number.h"

#include <string>

#include "Error.h"

namespace text {

namespace {

[[noreturn]] void ThrowNotInteger(std::string_view s) {
    throw TError(Format("'%s' is not a valid integer value", {s}));
}

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::int32_t StrToInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size()) ThrowNotInteger(s);

    // The magnitude is gathered in 64 bits and checked after every digit, so
    // no number of digits can overflow it.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (; i < s.size(); ++i) {
        const int d = DigitValue(s[i], hex);
        if (d < 0) ThrowNotInteger(s);
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(d);
        if (magnitude > limit) ThrowNotInteger(s);
    }
    // Two's complement on 32 bits: a hexadecimal pattern keeps its bits, and
    // the sign is applied after, so "-$1" and "-1" are the same value.
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

}  // namespace text
