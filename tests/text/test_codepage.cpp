#include <gtest/gtest.h>

#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Literal.h"

using namespace text::literals;

namespace {

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

}  // namespace

TEST(Codepage, Every1251ByteRoundTripsThroughUtf16AndUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::u16string wide = text::Cp1251ToUtf16(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(text::Utf16ToCp1251(wide), all);
    EXPECT_EQ(text::Utf8ToCp1251(text::Cp1251ToUtf8(all)), all);
}

TEST(Codepage, CyrillicLettersMapToTheirUnicodeCharacters) {
    EXPECT_EQ(text::Cp1251ToUtf16(Bytes({0xC0, 0xDF, 0xE0, 0xFF, 0xA8, 0xB8, 0xB9})), u"АЯаяЁё№");
    EXPECT_EQ(text::Utf16ToCp1251(u"Ёё№"), Bytes({0xA8, 0xB8, 0xB9}));
    // Characters the page lacks become the fallback, one per UTF-16 unit.
    EXPECT_EQ(text::Utf16ToCp1251(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(text::Utf16ToCp1251(u"\u4E2D", '_'), "_");
}

TEST(Codepage, Cp866NamesOfThePackageEntries) {
    EXPECT_EQ(text::Cp1251ToCp866("Пользовательское соглашение.txt"_cp1251),
              Bytes({0x8f, 0xae, 0xab, 0xec, 0xa7, 0xae, 0xa2, 0xa0, 0xe2, 0xa5, 0xab, 0xec, 0xe1, 0xaa, 0xae, 0xa5,
                     0x20, 0xe1, 0xae, 0xa3, 0xab, 0xa0, 0xe8, 0xa5, 0xad, 0xa8, 0xa5, 0x2e, 0x74, 0x78, 0x74}));
    EXPECT_EQ(text::Utf16ToCp866(u"Ёё"), Bytes({0xF0, 0xF1}));
    // Windows-1251 has letters that 866 lacks (Ђ): they become the fallback.
    EXPECT_EQ(text::Cp1251ToCp866(Bytes({0x80})), "?");
}

TEST(Codepage, Utf8DecodingReplacesMalformedInputAndKeepsSurrogatePairs) {
    EXPECT_EQ(text::Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(text::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(text::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(text::Utf8ToUtf16("a\xD0"), u"a\uFFFD");            // truncated sequence at the end
    EXPECT_EQ(text::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");           // overlong form
    EXPECT_EQ(text::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Codepage, LiteralIsConvertedAtCompileTimeToTheSameBytesAsAtRunTime) {
    constexpr std::string_view kind = "Справочник"_cp1251;
    static_assert(kind.size() == 10);
    static_assert(static_cast<unsigned char>(kind[0]) == 0xD1);
    EXPECT_EQ(std::string(kind), text::Utf8ToCp1251("Справочник"));
    EXPECT_EQ(std::string("a\0b"_cp1251), std::string("a\0b", 3));
}

TEST(Codepage, CaseFoldingCoversCyrillicAndLatin) {
    EXPECT_TRUE(text::EqualsIgnoreCase(u"ПАКЕТ.TXT", u"пакет.txt"));
    EXPECT_TRUE(text::EqualsIgnoreCase(u"ЁЖИК", u"ёжик"));
    EXPECT_FALSE(text::EqualsIgnoreCase(u"пакет", u"пакеты"));
    EXPECT_FALSE(text::EqualsIgnoreCase(u"е", u"ё"));
}

TEST(Codepage, PathsFrom1251KeepCyrillicNames) {
    const auto p = text::PathFrom1251("Описание пакета.txt"_cp1251);
    EXPECT_EQ(p.u16string(), u"Описание пакета.txt");
    EXPECT_EQ(text::PathTo1251(p), std::string("Описание пакета.txt"_cp1251));
}

TEST(Format, SubstitutesInOrderAndLeavesUnmatchedMarkers) {
    EXPECT_EQ(text::Format("Cannot create file \"%s\". %s", {"/a b", "No such file"}),
              "Cannot create file \"/a b\". No such file");
    EXPECT_EQ(text::Format("List index out of bounds (%d)", {"5"}), "List index out of bounds (5)");
    EXPECT_EQ(text::Format("100%% of %s %s", {"x"}), "100% of x %s");
}
