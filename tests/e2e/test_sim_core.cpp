// The simulator's portable core: the tree text it loads, the Designer's tree
// navigation it imitates, and the clipboard payload rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "SimPayload.h"
#include "SimTree.h"
#include "text/Codepage.h"
#include "text/Literal.h"

using namespace text::literals;

namespace {

std::string Path(const TSimTree& t) { return text::Utf16ToUtf8(t.SelectedPath()); }

void Type(TSimTree& t, const char* utf8)
{
    for (char16_t c : text::Utf8ToUtf16(utf8)) t.Char(c);
}

const char kSmallTree[] =
    "\xEF\xBB\xBF# comment\r\n"
    "Конфигурация\r\n"
    "  Общие\r\n"
    "\t\tОбщие модули\r\n"
    "      Сервис\r\n"
    "      СервисКлиент\r\n"
    "\r\n"
    "  Справочники\r\n"
    "    Ёлки\r\n"
    "    Склады\r\n";

}  // namespace

TEST(SimTree, ParsesBomCrlfTabsAndComments)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    EXPECT_EQ(text::Utf16ToUtf8(t.Root().Name), "Конфигурация");
    ASSERT_EQ(t.Root().Children.size(), 2u);
    EXPECT_EQ(t.Root().Children[0]->Children[0]->Children.size(), 2u);
    EXPECT_EQ(t.Root().Children[1]->Children.size(), 2u);
}

TEST(SimTree, RejectsBadIndentation)
{
    EXPECT_THROW(TSimTree::Parse("Root\n    Skipped a level\n"), std::runtime_error);
    EXPECT_THROW(TSimTree::Parse("  Indented root\n"), std::runtime_error);
    EXPECT_THROW(TSimTree::Parse("Root\nSecond root\n"), std::runtime_error);
    EXPECT_THROW(TSimTree::Parse("# only a comment\n\n"), std::runtime_error);
}

TEST(SimTree, LeftStopsAtRootRightStopsAtLeafAndCollapses)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    for (int i = 0; i < 10; ++i) t.Left();
    EXPECT_EQ(Path(t), "");
    t.Right();
    EXPECT_EQ(Path(t), "Общие");
    t.Right();
    t.Right();
    t.Right();  // Сервис is a leaf
    EXPECT_EQ(Path(t), "Общие.Общие модули.Сервис");
    EXPECT_EQ(t.VisibleRows().size(), 6u);  // root, Общие, Общие модули, its 2 modules, Справочники
    t.Left();
    EXPECT_EQ(Path(t), "Общие.Общие модули");
    EXPECT_EQ(t.VisibleRows().size(), 4u);  // the modules are hidden again
}

TEST(SimTree, CharSelectsByPrefixIgnoringCaseUntilTheNextMove)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    t.Right();
    Type(t, "СПРАВ");
    EXPECT_EQ(Path(t), "Справочники");
    t.Right();
    Type(t, "ёл");  // Ё folds like the other Cyrillic capitals
    EXPECT_EQ(Path(t), "Справочники.Ёлки");
    Type(t, "z");
    EXPECT_EQ(Path(t), "Справочники.Ёлки") << "no match keeps the selection";
    t.Left();
    t.Right();
    Type(t, "Ск");  // the move cleared the typed text
    EXPECT_EQ(Path(t), "Справочники.Склады");
}

TEST(SimTree, ControlCodesAndOtherKeysEndTheTypedText)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    t.Right();
    Type(t, "Спр");
    EXPECT_FALSE(t.Char(u'\r'));
    EXPECT_EQ(Path(t), "Справочники");
    EXPECT_TRUE(t.Char(u'С')) << "after the break 'С' starts a new search";
    EXPECT_FALSE(t.Char(u'\n'));
    EXPECT_FALSE(t.Char(u'п')) << "'п' alone begins no name";
    EXPECT_EQ(Path(t), "Справочники");
    t.Right();
    Type(t, "Ск");
    t.OtherKey();
    EXPECT_FALSE(t.Char(u'л')) << "a key-down between two characters splits the name";
    EXPECT_EQ(Path(t), "Справочники.Склады");
}

TEST(SimTree, PrefixOfALongerNameSelectsTheFirstInOrder)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    t.Right();
    t.Right();
    t.Right();
    Type(t, "Сервис");
    EXPECT_EQ(Path(t), "Общие.Общие модули.Сервис");
    Type(t, "К");
    EXPECT_EQ(Path(t), "Общие.Общие модули.СервисКлиент");
    EXPECT_FALSE(t.Char(u'Q'));
}

TEST(SimTree, SelectRowFollowsTheVisibleRows)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    t.Right();
    Type(t, "Спр");
    t.Right();  // rows: root, Общие, Справочники, Ёлки, Склады
    ASSERT_EQ(t.VisibleRows().size(), 5u);
    EXPECT_TRUE(t.SelectRow(4));
    EXPECT_EQ(Path(t), "Справочники.Склады");
    EXPECT_FALSE(t.SelectRow(5));
    EXPECT_EQ(Path(t), "Справочники.Склады");
    EXPECT_TRUE(t.SelectRow(0));
    EXPECT_EQ(Path(t), "");
}

// A key or character repaints only what it changed: the old and the new
// selected row while the same rows are shown, everything when a node opened
// or closed, nothing when nothing moved.
TEST(SimTree, RepaintCoversTheOldAndNewSelectionOrEverything)
{
    TSimTree t = TSimTree::Parse(kSmallTree);
    t.Right();
    TSimTree::TView before = t.View();  // rows: root, Общие, Справочники; Общие selected
    t.SelectRow(0);
    EXPECT_EQ(RowsToRepaint(before, t.View()), (std::vector<size_t>{0, 1})) << "the root's row too";

    t.SelectRow(1);
    before = t.View();
    Type(t, "Спр");
    EXPECT_EQ(RowsToRepaint(before, t.View()), (std::vector<size_t>{1, 2}));

    before = t.View();
    Type(t, "z");  // no match: nothing moves
    EXPECT_EQ(RowsToRepaint(before, t.View()), std::vector<size_t>{});

    before = t.View();
    t.Right();  // Справочники opens: two rows appear
    EXPECT_EQ(RowsToRepaint(before, t.View()), std::nullopt);

    t.SelectRow(4);  // rows: root, Общие, Справочники, Ёлки, Склады
    before = t.View();
    t.SelectRow(3);
    EXPECT_EQ(RowsToRepaint(before, t.View()), (std::vector<size_t>{3, 4})) << "the old row below the new one";

    before = t.View();
    t.Left();  // back to Справочники, which closes
    EXPECT_EQ(RowsToRepaint(before, t.View()), std::nullopt);
}

TEST(SimPayload, SixthFormatFollowsTheKind)
{
    struct {
        std::string_view path;
        bool sixth;
    } cases[] = {
        {"Справочники.Склады"_cp1251, true},
        {"Справочники.Склады.Реквизит"_cp1251, true},
        {"Справочники.Склады.Реквизит.Адрес"_cp1251, false},
        {"Справочники.Склады.Форма.ФормаСписка"_cp1251, true},
        {"Общие.Общие модули.Сервис"_cp1251, true},
        {"Общие.Подсистемы.Склад"_cp1251, false},
        {"Обработки.Загрузка.Форма.Основная"_cp1251, true},
    };
    for (const auto& c : cases) {
        auto formats = SimCopiedFormats(std::string(c.path));
        ASSERT_EQ(formats.size(), c.sixth ? 6u : 5u) << text::Cp1251ToUtf8(c.path);
        EXPECT_EQ(formats[2], "1C:MD8 Data");
        if (c.sixth) {
            EXPECT_EQ(formats[5], "1C:V8MngCmdObjectsDataFormat");
        }
    }
}

TEST(SimPayload, BinaryFormatsHoldZeroBytesAfterTheirStart)
{
    const std::string path{"Справочники.Склады"_cp1251};
    for (const char* f : {"1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info", "1C:V8MngCmdObjectsDataFormat"}) {
        std::string bytes = SimPayload(path, f);
        size_t zero = bytes.find('\0');
        ASSERT_NE(zero, std::string::npos) << f;
        EXPECT_GE(zero, 4u) << f;
        EXPECT_LT(zero + 1, bytes.size()) << f << ": bytes follow the first zero";
        EXPECT_NE(bytes.find(path), std::string::npos) << f << ": the Cyrillic path is inside";
        EXPECT_NE(bytes, SimPayload("Справочники.Номенклатура"_cp1251.data(), f)) << f << ": depends on the node";
    }
    EXPECT_NE(SimPayload(path, "1C:MD8 Data"), SimPayload(path, "1C:MD8 External Data"));
    EXPECT_EQ(SimPayload(path, "1C:Unknown"), "");
}

// The bytes a package keeps of a format: those before the first zero.
std::string Kept(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

TEST(SimPayload, KeptBytesNameTheNode)
{
    // Nodes of one kind, prefix siblings and nodes of different kinds.
    const std::string pairs[][2] = {
        {"Справочники.Склады"_cp1251.data(), "Обработки.Выгрузка"_cp1251.data()},
        {"Справочники.Склад"_cp1251.data(), "Справочники.Склады"_cp1251.data()},
        {"Обработки.Загрузка.Форма.Основная"_cp1251.data(), "Обработки.ЗагрузкаДанных.Форма.Основная"_cp1251.data()},
    };
    for (const auto& pair : pairs)
        for (const char* f : {"CF_TEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info", "1C:V8MngCmdObjectsDataFormat"})
            EXPECT_NE(Kept(SimPayload(pair[0], f)), Kept(SimPayload(pair[1], f))) << f << " " << text::Cp1251ToUtf8(pair[0]);
    // UTF-16 text is cut at the blank after the name, which comes first.
    EXPECT_NE(Kept(SimPayload(pairs[0][0], "CF_UNICODETEXT")), Kept(SimPayload(pairs[0][1], "CF_UNICODETEXT")));
    EXPECT_NE(Kept(SimPayload(pairs[1][0], "CF_UNICODETEXT")), Kept(SimPayload(pairs[1][1], "CF_UNICODETEXT")));
}

TEST(SimPayload, BinaryRecordLayout)
{
    // Worked out with Python: FNV-1a over "1C:MD8 Data", a zero byte and the
    // path is 0x98E7EDC1.
    const std::string expected =
        "MD8D98E7EDC1" + std::string("Справочники.Склады"_cp1251) +
        std::string("\0\x12\0\0\0\xC1\xED\xE7\x98\0\0\0\0", 13);
    EXPECT_EQ(SimPayload("Справочники.Склады"_cp1251.data(), "1C:MD8 Data"), expected);
}

TEST(SimPayload, TextFormatsSpellTheNode)
{
    const std::string path{"Общие.Общие модули.Сервис"_cp1251};
    EXPECT_EQ(SimPayload(path, "CF_TEXT"), std::string("Сервис (Общие.Общие модули.Сервис)"_cp1251) + '\0');
    std::string unicode = SimPayload(path, "CF_UNICODETEXT");
    ASSERT_EQ(unicode.size() % 2, 0u);
    std::u16string decoded;
    for (size_t i = 0; i + 1 < unicode.size(); i += 2)
        decoded += static_cast<char16_t>(static_cast<unsigned char>(unicode[i]) | static_cast<unsigned char>(unicode[i + 1]) << 8);
    EXPECT_EQ(decoded, u"Сервис (Общие.Общие модули.Сервис)" + std::u16string(1, u'\0'));
}

// The tree shipped with the simulator holds every path the scenarios type.
TEST(SimTree, DefaultTreeHoldsTheScenarioPaths)
{
    const char* root = std::getenv("WIZARD_SOURCE_DIR");
    ASSERT_NE(root, nullptr) << "run through ctest, which sets WIZARD_SOURCE_DIR";
    std::ifstream in(std::string(root) + "/tools/designer_sim/designer_tree.txt", std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream ss;
    ss << in.rdbuf();
    TSimTree t = TSimTree::Parse(ss.str());
    ASSERT_EQ(t.Root().Children.size(), 3u);
    for (const char* path : {"Справочники.Склады.Реквизит.Адрес", "Общие.Общие модули.Сервис", "Общие.Подсистемы.Склад",
                             "Обработки.Загрузка.Форма.Основная", "Справочники.Номенклатура", "Справочники.Склад",
                             "Обработки.ЗагрузкаДанных.Форма.Основная", "Общие.Общие формы.Сервис",
                             "Общие.Подсистемы.Склад.Поступление.Приемка.Контроль.Качество.Претензии.Возвраты.Списание"}) {
        for (int i = 0; i < 10; ++i) t.Left();
        t.Right();
        for (char16_t c : text::Utf8ToUtf16(path)) {
            if (c == u'.') t.Right();
            else t.Char(c);
        }
        EXPECT_EQ(Path(t), path);
    }
    // From the deepest node ten VK_LEFT reach the root; nine stop one level
    // short, under a first-level folder.
    for (int i = 0; i < 9; ++i) t.Left();
    EXPECT_EQ(Path(t), "Общие");
    t.Left();
    EXPECT_EQ(Path(t), "");
}
