#pragma once
// Russian literals as Windows-1251 bytes, converted at compile time.
//
//   using namespace text::literals;               // in a .cpp file
//   std::string_view kind = "Справочник"_cp1251;
//
//   inline constexpr std::string_view kKind = text::Cp1251<"Справочник">;  // in a header
//
// Headers use the named form, so that no `using namespace` leaks into their
// includers.
//
// Source files are UTF-8; the operator decodes the literal's UTF-8 bytes and
// maps each character to its Windows-1251 byte while compiling. A character
// the page lacks does not compile. The view points to static storage.
//
// clang 14 crashes (a front-end fault) on a declaration initialised straight
// from such a literal, `std::string s("…"_cp1251)` or `T x{"…"_cp1251}`;
// GCC, MSVC and later clang take it. Code that the fuzz build compiles with
// clang assigns through a std::string_view first.

#include <cstddef>
#include <string_view>

#include "CodepageTables.h"

namespace text {
namespace detail {

template <std::size_t N>
struct Utf8Source {
    char bytes[N]{};
    constexpr Utf8Source(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) bytes[i] = s[i];
    }
};

constexpr char EncodeCp1251(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    for (int i = 0; i < 128; ++i)
        if (kCp1251High[i] == c) return static_cast<char>(0x80 + i);
    throw "character outside Windows-1251 in a _cp1251 literal";
}

template <std::size_t N>
struct Cp1251Bytes {
    char data[N]{};
    std::size_t size = 0;
};

template <std::size_t N>
constexpr Cp1251Bytes<N> ConvertUtf8Literal(const char (&in)[N]) {
    Cp1251Bytes<N> out{};
    std::size_t i = 0;
    const std::size_t end = N - 1;  // the terminating zero is not part of the text
    while (i < end) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        char32_t c = 0;
        int extra = 0;
        if (b < 0x80) { c = b; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else throw "malformed UTF-8 in a _cp1251 literal";
        if (i + extra >= N) throw "truncated UTF-8 in a _cp1251 literal";
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cb = static_cast<unsigned char>(in[i + k]);
            if ((cb & 0xC0) != 0x80) throw "malformed UTF-8 in a _cp1251 literal";
            c = (c << 6) | (cb & 0x3F);
        }
        i += 1 + extra;
        out.data[out.size++] = EncodeCp1251(c);
    }
    return out;
}

template <Utf8Source S>
struct Cp1251Literal {
    static constexpr auto value = ConvertUtf8Literal(S.bytes);
};

}  // namespace detail

// The Windows-1251 bytes of the UTF-8 literal S.
template <detail::Utf8Source S>
inline constexpr std::string_view Cp1251{detail::Cp1251Literal<S>::value.data, detail::Cp1251Literal<S>::value.size};

namespace literals {

template <detail::Utf8Source S>
constexpr std::string_view operator""_cp1251() {
    return Cp1251<S>;
}

}  // namespace literals
}  // namespace text
