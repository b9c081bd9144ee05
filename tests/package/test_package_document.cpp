#include <gtest/gtest.h>

#include <memory>

#include "package/PackageDocument.h"
#include "text/Error.h"

using namespace text::literals;

namespace {

std::string EmptyDocumentXml() {
    return "<1C8InstallationPackage copyright=\"" + std::string(package::kCopyrightText) +
           "\"><CommonModules/><Directories/><Processings/><Subsystems/></1C8InstallationPackage>";
}

}  // namespace

TEST(PackageDocument, SetUpGivesTheRootWithItsCopyrightAndFourEmptySectionsInOrder) {
    package::TPackageDocument package;
    package::SetUpPackageDocument(package);
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
        package::TPackageDocument package;
        package::SetUpPackageDocument(package);
        const long fresh = xml::TXmlDNode::LiveCount();
        xml::TXmlDElement* object = package::AddChildElement("AddObject", package.Subsystems);
        package::SetElementAttribute("ObjectPath", "x", object);
        package::SetUpPackageDocument(package);
        EXPECT_EQ(xml::TXmlDNode::LiveCount(), fresh);
        EXPECT_EQ(package.Document->GetXml(), EmptyDocumentXml());
    }
    EXPECT_EQ(xml::TXmlDNode::LiveCount(), before);
}

TEST(PackageDocument, KindTableTranslatesThePathAndChoosesSectionAndFormats) {
    struct TCase {
        std::string_view path;
        std::string_view treePath;
        xml::TXmlDElement* package::TPackageDocument::*section;
        std::size_t formats;
    };
    const TCase cases[] = {
        {"Справочник.Склады"_cp1251, "Справочники.Склады"_cp1251, &package::TPackageDocument::Directories, 6},
        {"Справочник.Склады.Реквизит.Адрес"_cp1251, "Справочники.Склады.Реквизит.Адрес"_cp1251,
         &package::TPackageDocument::Directories, 5},
        {"ОбщийМодуль.Сервис"_cp1251, "Общие.Общие модули.Сервис"_cp1251, &package::TPackageDocument::CommonModules, 6},
        {"Подсистема.Склад"_cp1251, "Общие.Подсистемы.Склад"_cp1251, &package::TPackageDocument::Subsystems, 5},
        {"Обработка.Загрузка.Форма.Основная"_cp1251, "Обработки.Загрузка.Форма.Основная"_cp1251,
         &package::TPackageDocument::Processings, 6},
        // The ".Реквизит." exception belongs to directories alone.
        {"Обработка.X.Реквизит.Y"_cp1251, "Обработки.X.Реквизит.Y"_cp1251, &package::TPackageDocument::Processings, 6},
        {"ОбщийМодуль.Реквизит.Реквизит.Y"_cp1251, "Общие.Общие модули.Реквизит.Реквизит.Y"_cp1251,
         &package::TPackageDocument::CommonModules, 6},
        // Only the leading kind word is translated.
        {"Подсистема.Подсистема"_cp1251, "Общие.Подсистемы.Подсистема"_cp1251, &package::TPackageDocument::Subsystems, 5},
    };
    for (const TCase& c : cases) {
        const package::TObjectKind* kind = package::FindObjectKind(c.path);
        ASSERT_NE(kind, nullptr) << c.path;
        EXPECT_EQ(package::TreePath(*kind, c.path), c.treePath);
        EXPECT_EQ(kind->Section, c.section);
        const std::vector<std::string> formats = package::ObjectFormats(*kind, c.path);
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
        EXPECT_EQ(package::FindObjectKind(unknown), nullptr) << unknown;
}
