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

// The characters of bytes 0x80..0xFF, written out from Python's codecs
// ("cp1251", "cp866"); 0x98, which Windows-1251 leaves unassigned, is the
// C1 control of the same value. Round trips cannot see two entries swapped;
// this can.
TEST(Codepage, EveryHighByteOfBothPagesIsItsOwnCharacter) {
    const std::u16string cp1251 =
        u"\u0402\u0403\u201A\u0453\u201E\u2026\u2020\u2021\u20AC\u2030\u0409\u2039\u040A\u040C\u040B\u040F"
        u"\u0452\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u0098\u2122\u0459\u203A\u045A\u045C\u045B\u045F"
        u"\u00A0\u040E\u045E\u0408\u00A4\u0490\u00A6\u00A7\u0401\u00A9\u0404\u00AB\u00AC\u00AD\u00AE\u0407"
        u"\u00B0\u00B1\u0406\u0456\u0491\u00B5\u00B6\u00B7\u0451\u2116\u0454\u00BB\u0458\u0405\u0455\u0457"
        u"\u0410\u0411\u0412\u0413\u0414\u0415\u0416\u0417\u0418\u0419\u041A\u041B\u041C\u041D\u041E\u041F"
        u"\u0420\u0421\u0422\u0423\u0424\u0425\u0426\u0427\u0428\u0429\u042A\u042B\u042C\u042D\u042E\u042F"
        u"\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u0439\u043A\u043B\u043C\u043D\u043E\u043F"
        u"\u0440\u0441\u0442\u0443\u0444\u0445\u0446\u0447\u0448\u0449\u044A\u044B\u044C\u044D\u044E\u044F";
    const std::u16string cp866 =
        u"\u0410\u0411\u0412\u0413\u0414\u0415\u0416\u0417\u0418\u0419\u041A\u041B\u041C\u041D\u041E\u041F"
        u"\u0420\u0421\u0422\u0423\u0424\u0425\u0426\u0427\u0428\u0429\u042A\u042B\u042C\u042D\u042E\u042F"
        u"\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u0439\u043A\u043B\u043C\u043D\u043E\u043F"
        u"\u2591\u2592\u2593\u2502\u2524\u2561\u2562\u2556\u2555\u2563\u2551\u2557\u255D\u255C\u255B\u2510"
        u"\u2514\u2534\u252C\u251C\u2500\u253C\u255E\u255F\u255A\u2554\u2569\u2566\u2560\u2550\u256C\u2567"
        u"\u2568\u2564\u2565\u2559\u2558\u2552\u2553\u256B\u256A\u2518\u250C\u2588\u2584\u258C\u2590\u2580"
        u"\u0440\u0441\u0442\u0443\u0444\u0445\u0446\u0447\u0448\u0449\u044A\u044B\u044C\u044D\u044E\u044F"
        u"\u0401\u0451\u0404\u0454\u0407\u0457\u040E\u045E\u00B0\u2219\u00B7\u221A\u2116\u00A4\u25A0\u00A0";
    std::string high;
    for (int b = 0x80; b < 0x100; ++b) high += static_cast<char>(b);
    ASSERT_EQ(cp1251.size(), 128u);
    ASSERT_EQ(cp866.size(), 128u);
    const std::u16string decoded = text::Cp1251ToUtf16(high);
    for (std::size_t i = 0; i < 128; ++i) EXPECT_EQ(int(decoded[i]), int(cp1251[i])) << "byte " << 0x80 + i;
    EXPECT_EQ(text::Utf16ToCp1251(cp1251), high);
    const std::string encoded866 = text::Utf16ToCp866(cp866);
    for (std::size_t i = 0; i < 128; ++i)
        EXPECT_EQ(static_cast<unsigned char>(encoded866[i]), 0x80 + i) << "character " << int(cp866[i]);
}

// Every letter of Windows-1251 that has a case partner there (Python's
// str.lower over the page), Latin and Cyrillic.
TEST(Codepage, CaseFoldingCoversEveryLetterPairOfWindows1251) {
    const std::u16string upper = u"ABCDEFGHIJKLMNOPQRSTUVWXYZЂЃЉЊЌЋЏЎЈҐЁЄЇІЅ"
                                 u"АБВГДЕЖЗИЙКЛМНОП"
                                 u"РСТУФХЦЧШЩЪЫЬЭЮЯ";
    const std::u16string lower = u"abcdefghijklmnopqrstuvwxyzђѓљњќћџўјґёєїіѕ"
                                 u"абвгдежзийклмноп"
                                 u"рстуфхцчшщъыьэюя";
    ASSERT_EQ(upper.size(), 73u);
    ASSERT_EQ(lower.size(), 73u);
    for (std::size_t i = 0; i < upper.size(); ++i) {
        const std::u16string u(1, upper[i]), l(1, lower[i]), next(1, lower[(i + 1) % lower.size()]);
        EXPECT_TRUE(text::EqualsIgnoreCase(u, l)) << int(upper[i]);
        EXPECT_TRUE(text::EqualsIgnoreCase(l, u)) << int(upper[i]);
        EXPECT_FALSE(text::EqualsIgnoreCase(u, next)) << int(upper[i]);
    }
}
