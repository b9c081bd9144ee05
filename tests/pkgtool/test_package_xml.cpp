// PackageData.xml read back against the package layout.
#include <gtest/gtest.h>

#include "pkgtool/PackageXml.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace {

const std::string kFive = "<Item FormatName=\"CF_TEXT\">a</Item><Item FormatName=\"CF_UNICODETEXT\">b</Item>"
                          "<Item FormatName=\"1C:MD8 Data\">c</Item><Item FormatName=\"1C:MD8 External Data\">d</Item>"
                          "<Item FormatName=\"1C:MD8 Info\">e</Item>";
const std::string kSix = kFive + "<Item FormatName=\"1C:V8MngCmdObjectsDataFormat\">f</Item>";

// A document as the build writes it (UTF-8 here, Windows-1251 when read).
std::string Document(const std::string& commonModules, const std::string& directories, const std::string& processings,
                     const std::string& subsystems) {
    auto section = [](const std::string& tag, const std::string& body) {
        return body.empty() ? "<" + tag + "/>" : "<" + tag + ">" + body + "</" + tag + ">";
    };
    return "<1C8InstallationPackage copyright=\"Создано\">" + section("CommonModules", commonModules) +
           section("Directories", directories) + section("Processings", processings) +
           section("Subsystems", subsystems) + "</1C8InstallationPackage>";
}

pkgtool::TPackageContents Read(const std::string& utf8, std::size_t chunk) {
    const std::string bytes = text::Utf8ToCp1251(utf8);
    pkgtool::TPackageXmlReader reader;
    for (std::size_t i = 0; i < bytes.size(); i += chunk) reader.Feed(bytes.data() + i, std::min(chunk, bytes.size() - i));
    return reader.Finish();
}

std::string ErrorOf(const std::string& utf8, std::size_t chunk = 7) {
    try {
        Read(utf8, chunk);
    } catch (const text::TError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(PackageXml, ReadsEveryObjectWithItsFormatSizesInAnyChunking) {
    const std::string doc = Document(
        "<AddObject ObjectPath=\"Общие.Общие модули.Сервис\">" + kSix + "</AddObject>",
        "<AddObject ObjectPath=\"Справочники.Склады\">" + kSix + "</AddObject>"
        "<AddObject ObjectPath=\"Справочники.Склады.Реквизит.Адрес\">"
        "<Item FormatName=\"CF_TEXT\">&lt;a&amp;b&quot;&apos;&gt;</Item><Item FormatName=\"CF_UNICODETEXT\"></Item>"
        "<Item FormatName=\"1C:MD8 Data\"/><Item FormatName=\"1C:MD8 External Data\">Склад № 1</Item>"
        "<Item FormatName=\"1C:MD8 Info\">\x01\x7F\xC2\xA0</Item></AddObject>",
        "", "<AddObject ObjectPath=\"Общие.Подсистемы.Склад\">" + kFive + "</AddObject>");
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
        const pkgtool::TPackageContents c = Read(doc, chunk);
        EXPECT_EQ(c.Bytes, text::Utf8ToCp1251(doc).size());
        EXPECT_EQ(c.Copyright, text::Utf8ToCp1251("Создано"));
        ASSERT_EQ(c.Sections.size(), 4u);
        EXPECT_EQ(c.Sections[0].Tag, "CommonModules");
        EXPECT_EQ(c.Sections[3].Tag, "Subsystems");
        EXPECT_EQ(c.Sections[2].Objects.size(), 0u);
        ASSERT_EQ(c.Sections[1].Objects.size(), 2u);
        const pkgtool::TPackageObject& attribute = c.Sections[1].Objects[1];
        EXPECT_EQ(attribute.ObjectPath, text::Utf8ToCp1251("Справочники.Склады.Реквизит.Адрес"));
        ASSERT_EQ(attribute.Formats.size(), 5u);
        // Entities count as the byte they stand for; an empty Item is 0.
        EXPECT_EQ(attribute.Formats[0].Size, 7u);
        EXPECT_EQ(attribute.Formats[1].Size, 0u);
        EXPECT_EQ(attribute.Formats[2].Size, 0u);
        EXPECT_EQ(attribute.Formats[3].Size, 9u);
        EXPECT_EQ(attribute.Formats[4].Size, 3u);  // 0x01, 0x7F, NBSP
        EXPECT_EQ(attribute.Formats[4].Name, "1C:MD8 Info");
        EXPECT_EQ(c.Sections[0].Objects[0].Formats.size(), 6u);
        EXPECT_EQ(c.Sections[3].Objects[0].Formats.size(), 5u);
    }
}

TEST(PackageXml, FindsEntitiesAndZeroBytesAnywhereInALongItem) {
    // At every position of an item longer than the scanner's 16-byte steps,
    // read in one piece and byte by byte.
    auto doc = [](const std::string& text) {
        const std::string first = "<Item FormatName=\"CF_TEXT\">a</Item>";
        return Document("", "<AddObject ObjectPath=\"Справочники.С\"><Item FormatName=\"CF_TEXT\">" + text + "</Item>" +
                                kSix.substr(first.size()) + "</AddObject>",
                        "", "");
    };
    for (std::size_t at = 0; at < 50; ++at) {
        const std::string before(at, 'x'), after(50 - at, 'y');
        for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{1}}) {
            const pkgtool::TPackageContents c = Read(doc(before + "&gt;" + after), chunk);
            EXPECT_EQ(c.Sections[1].Objects.at(0).Formats.at(0).Size, 51u) << at;
            EXPECT_NE(ErrorOf(doc(before + std::string(1, '\0') + after), chunk).find("a zero byte in an Item"),
                      std::string::npos)
                << at;
        }
    }
}

TEST(PackageXml, RefusesWhatTheLayoutDoesNotHave) {
    const std::string dir = "<AddObject ObjectPath=\"Справочники.Склады\">" + kSix + "</AddObject>";
    const std::string ok = Document("", dir, "", "");
    ASSERT_EQ(ErrorOf(ok), "(accepted)");
    struct TCase {
        std::string Doc;
        std::string Error;
    };
    const TCase cases[] = {
        {"", "ends early"},
        {ok.substr(0, ok.size() - 1), "ends early"},
        {"<?xml version=\"1.0\"?>" + ok, "not an element"},
        {"<Root copyright=\"x\"/>", "root element is <Root>"},
        {"<1C8InstallationPackage><CommonModules/></1C8InstallationPackage>", "exactly the attribute copyright"},
        {"<1C8InstallationPackage copyright=\"x\"><Directories/><CommonModules/><Processings/><Subsystems/>"
         "</1C8InstallationPackage>",
         "<Directories> where <CommonModules> belongs"},
        {"<1C8InstallationPackage copyright=\"x\"><CommonModules/><Directories/><Processings/>"
         "</1C8InstallationPackage>",
         "before its four sections"},
        {Document(dir, "", "", ""), "does not belong in <CommonModules>"},
        {Document("", "<AddObject ObjectPath=\"Справочники.Склады\">" + kFive + "</AddObject>", "", ""),
         "has 5 formats, not 6"},
        {Document("", "<AddObject ObjectPath=\"Справочники.Склады.Реквизит.А\">" + kSix + "</AddObject>", "", ""),
         "where its formats end"},
        {Document("", "<AddObject ObjectPath=\"Справочники.С\"><Item FormatName=\"CF_UNICODETEXT\">a</Item></AddObject>",
                  "", ""),
         "where \"CF_TEXT\" belongs"},
        {Document("", "<AddObject ObjectPath=\"Справочники.С\"/>", "", ""), "has 0 formats"},
        {Document("", dir, "", "").insert(std::string("<1C8InstallationPackage copyright=\"Создано\">").size(), "\n"),
         "text outside an Item"},
        {Document("", "<AddObject ObjectPath=\"Справочники.С\"><Item FormatName=\"CF_TEXT\">&nbsp;</Item>", "", ""),
         "unknown entity"},
        {Document("", "<AddObject ObjectPath=\"Справочники.С\"><Item FormatName=\"CF_TEXT\"><b/></Item>", "", ""),
         "<b> inside an Item"},
        {Document("", std::string("<AddObject ObjectPath=\"Справочники.С\"><Item FormatName=\"CF_TEXT\">a") + '\0' +
                          "</Item>",
                  "", ""),
         "zero byte"},
        {Document("", dir, "", "") + "<1C8InstallationPackage copyright=\"x\"/>", "content after the root"},
        {Document("", dir + "</Item>", "", ""), "</Item> closes nothing"},
        {Document("", "<AddObject ObjectPath=\"Справочники.С\" ObjectPath=\"x\">" + kSix + "</AddObject>", "", ""),
         "exactly the attribute ObjectPath"},
    };
    for (const TCase& c : cases) {
        const std::string error = ErrorOf(c.Doc);
        EXPECT_NE(error.find(text::Utf8ToCp1251(c.Error)), std::string::npos) << c.Doc << "\n  gave: " << error;
    }
}

}  // namespace

namespace {

TEST(PackageXml, HandsObjectsOnOneByOneAndKeepsNone) {
    const std::string doc = Document("", "<AddObject ObjectPath=\"Справочники.А\">" + kSix + "</AddObject>" +
                                             "<AddObject ObjectPath=\"Справочники.Б\">" + kSix + "</AddObject>",
                                     "", "<AddObject ObjectPath=\"Общие.Подсистемы.В\">" + kFive + "</AddObject>");
    std::vector<std::string> seen;
    pkgtool::TPackageXmlReader reader([&seen](const std::string& section, const pkgtool::TPackageObject& o) {
        seen.push_back(section + " " + text::Cp1251ToUtf8(o.ObjectPath) + " " + std::to_string(o.Formats.size()));
    });
    const std::string bytes = text::Utf8ToCp1251(doc);
    reader.Feed(bytes.data(), bytes.size());
    const pkgtool::TPackageContents c = reader.Finish();
    EXPECT_EQ(seen, (std::vector<std::string>{"Directories Справочники.А 6", "Directories Справочники.Б 6",
                                              "Subsystems Общие.Подсистемы.В 5"}));
    ASSERT_EQ(c.Sections.size(), 4u);
    EXPECT_EQ(c.Sections[1].ObjectCount, 2u);
    EXPECT_EQ(c.Sections[3].ObjectCount, 1u);
    for (const pkgtool::TPackageSection& s : c.Sections) EXPECT_TRUE(s.Objects.empty()) << s.Tag;
}

}  // namespace
