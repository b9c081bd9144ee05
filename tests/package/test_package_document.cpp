#include <gtest/gtest.h>

#include <memory>

#include "Fakes.h"
#include "app/PackageDocument.h"
#include "text/Error.h"

using namespace text::literals;

namespace {

std::string EmptyDocumentXml() {
    return "<1C8InstallationPackage copyright=\"" + std::string(app::kCopyrightText) +
           "\"><CommonModules/><Directories/><Processings/><Subsystems/></1C8InstallationPackage>";
}

}  // namespace

TEST(PackageDocument, SetUpGivesTheRootWithItsCopyrightAndFourEmptySectionsInOrder) {
    app::TPackageDocument package;
    app::SetUpPackageDocument(package);
    EXPECT_EQ(package.Document->GetXml(), EmptyDocumentXml());
    EXPECT_EQ(package.Root, package.Document->DocumentElement());
    EXPECT_EQ(package.CommonModules->ParentNode(), package.Root);
    EXPECT_EQ(package.CommonModules->NextSibling(), package.Directories);
    EXPECT_EQ(package.Directories->NextSibling(), package.Processings);
    EXPECT_EQ(package.Processings->NextSibling(), package.Subsystems);
    EXPECT_EQ(package.Subsystems->TagName(), "Subsystems");
}

TEST(PackageDocument, SetUpAgainReplacesTheFormerDocumentAndFreesIt) {
    const long before = xml::TXmlDNode::LiveCount();
    {
        app::TPackageDocument package;
        app::SetUpPackageDocument(package);
        const long fresh = xml::TXmlDNode::LiveCount();
        xml::TXmlDElement* object = app::AddChildElement("AddObject", package.Subsystems);
        app::SetElementAttribute("ObjectPath", "x", object);
        app::SetUpPackageDocument(package);
        EXPECT_EQ(xml::TXmlDNode::LiveCount(), fresh);
        EXPECT_EQ(package.Document->GetXml(), EmptyDocumentXml());
    }
    EXPECT_EQ(xml::TXmlDNode::LiveCount(), before);
}

TEST(PackageDocument, KindTableTranslatesThePathAndChoosesSectionAndFormats) {
    struct TCase {
        std::string_view path;
        std::string_view treePath;
        xml::TXmlDElement* app::TPackageDocument::*section;
        std::size_t formats;
    };
    const TCase cases[] = {
        {"Справочник.Склады"_cp1251, "Справочники.Склады"_cp1251, &app::TPackageDocument::Directories, 6},
        {"Справочник.Склады.Реквизит.Адрес"_cp1251, "Справочники.Склады.Реквизит.Адрес"_cp1251,
         &app::TPackageDocument::Directories, 5},
        {"ОбщийМодуль.Сервис"_cp1251, "Общие.Общие модули.Сервис"_cp1251, &app::TPackageDocument::CommonModules, 6},
        {"Подсистема.Склад"_cp1251, "Общие.Подсистемы.Склад"_cp1251, &app::TPackageDocument::Subsystems, 5},
        {"Обработка.Загрузка.Форма.Основная"_cp1251, "Обработки.Загрузка.Форма.Основная"_cp1251,
         &app::TPackageDocument::Processings, 6},
        // Only the leading kind word is translated.
        {"Подсистема.Подсистема"_cp1251, "Общие.Подсистемы.Подсистема"_cp1251, &app::TPackageDocument::Subsystems, 5},
    };
    for (const TCase& c : cases) {
        const app::TObjectKind* kind = app::FindObjectKind(c.path);
        ASSERT_NE(kind, nullptr) << c.path;
        EXPECT_EQ(app::TreePath(*kind, c.path), c.treePath);
        EXPECT_EQ(kind->Section, c.section);
        const std::vector<std::string> formats = app::ObjectFormats(*kind, c.path);
        ASSERT_EQ(formats.size(), c.formats);
        EXPECT_EQ(formats[0], "CF_TEXT");
        EXPECT_EQ(formats[1], "CF_UNICODETEXT");
        EXPECT_EQ(formats[2], "1C:MD8 Data");
        EXPECT_EQ(formats[3], "1C:MD8 External Data");
        EXPECT_EQ(formats[4], "1C:MD8 Info");
        if (formats.size() == 6) {
            EXPECT_EQ(formats[5], "1C:V8MngCmdObjectsDataFormat");
        }
    }
    for (std::string_view unknown : {"Документ.Заказ"_cp1251, "справочник.Склады"_cp1251, "Справочни"_cp1251,
                                     std::string_view()})
        EXPECT_EQ(app::FindObjectKind(unknown), nullptr) << unknown;
}

TEST(ClipboardItem, TextEndsBeforeTheFirstZeroByteAndNeverPassesTheBlock) {
    EXPECT_EQ(app::ClipboardItemText("ab\0cd", 5), "ab");
    EXPECT_EQ(app::ClipboardItemText("\0x", 2), "");
    EXPECT_EQ(app::ClipboardItemText("", 0), "");
    // A block without a zero byte: exactly its size, on the heap, so a read
    // past it is caught by the address sanitizer.
    std::unique_ptr<char[]> block(new char[3]{'a', 'b', 'c'});
    EXPECT_EQ(app::ClipboardItemText(block.get(), 3), "abc");
    // UTF-16 text in Latin letters stops after its first letter.
    EXPECT_EQ(app::ClipboardItemText("H\0i\0\0\0", 6), "H");
}

TEST(ClipboardItem, ItemsFollowTheListAndStopAtTheFirstMissingFormat) {
    fakes::TFakeClock clock;
    fakes::TFakeClipboard clipboard(clock);
    clipboard.Put({{"CF_TEXT", std::string("a<b\0junk", 8)},
                   {"CF_UNICODETEXT", std::string("\x21\x04\x00\x00", 4)},
                   {"1C:MD8 External Data", "e"},
                   {"1C:MD8 Info", "i"}});
    app::TPackageDocument package;
    app::SetUpPackageDocument(package);
    xml::TXmlDElement* object = app::AddChildElement("AddObject", package.Directories);

    const std::vector<std::string> formats = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data",
                                              "1C:MD8 Info"};
    EXPECT_FALSE(app::AddClipboardItems(clipboard, clock, object, formats));
    EXPECT_EQ(object->GetXml(),
              "<AddObject><Item FormatName=\"CF_TEXT\">a&lt;b</Item>"
              "<Item FormatName=\"CF_UNICODETEXT\">\x21\x04</Item></AddObject>");
    EXPECT_EQ(clipboard.reads, (std::vector<std::string>{"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data"}));
    EXPECT_FALSE(clipboard.isOpen);

    xml::TXmlDElement* other = app::AddChildElement("AddObject", package.Directories);
    EXPECT_TRUE(app::AddClipboardItems(clipboard, clock, other, {}));
    EXPECT_FALSE(other->HasChildNodes());
    // A zero byte first gives an item with an empty text.
    clipboard.Put({{"1C:MD8 Data", std::string("\0z", 2)}});
    EXPECT_TRUE(app::AddClipboardItem(clipboard, clock, "1C:MD8 Data", other));
    EXPECT_EQ(other->GetXml(), "<AddObject><Item FormatName=\"1C:MD8 Data\"></Item></AddObject>");
}

TEST(ClipboardItem, BusyClipboardIsTriedAgainForAboutASecondThenReported) {
    fakes::TFakeClock clock;
    fakes::TFakeClipboard clipboard(clock);
    clipboard.Put({{"CF_TEXT", "t"}});
    app::TPackageDocument package;
    app::SetUpPackageDocument(package);

    clipboard.failOpens = 5;
    const std::uint64_t start = clock.now;
    EXPECT_TRUE(app::AddClipboardItem(clipboard, clock, "CF_TEXT", package.Root));
    EXPECT_EQ(clipboard.openAttempts, 6);
    EXPECT_LT(clock.now - start, 100u);

    clipboard.failOpens = 1'000'000;
    const std::uint64_t busyStart = clock.now;
    try {
        app::AddClipboardItem(clipboard, clock, "CF_TEXT", package.Subsystems);
        FAIL() << "a clipboard that never opens must raise an error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "Cannot open clipboard");
    }
    EXPECT_GE(clock.now - busyStart, 1000u);
    EXPECT_LT(clock.now - busyStart, 1100u);
    EXPECT_FALSE(package.Subsystems->HasChildNodes());
    EXPECT_FALSE(clipboard.isOpen);
}
