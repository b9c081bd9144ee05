// pkgtool inspect on packages built by the project's assembly, on damaged
// ones and on one whose document does not match the layout.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "../platform/ClipboardFakes.h"
#include "PkgtoolTestUtil.h"
#include "package/PackageAssembly.h"
#include "pkgtool/Inspect.h"
#include "package/PackageDocument.h"
#include "tests/zip/ZipTestUtil.h"
#include "text/Codepage.h"
#include "zip/ZipWriter.h"

using namespace pkgtest;
using ziptest::Hex;

namespace {

std::string Capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
    return out;
}

// Items of one object: format list of its kind, each with the given text.
void AddObject(xml::TXmlDElement* section, const std::string& pathUtf8, const std::vector<std::string>& texts) {
    static const char* formats[] = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info",
                                    "1C:V8MngCmdObjectsDataFormat"};
    xml::TXmlDElement* object = package::AddChildElement("AddObject", section);
    package::SetElementAttribute("ObjectPath", text::Utf8ToCp1251(pathUtf8), object);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        xml::TXmlDElement* item = package::AddChildElement("Item", object);
        package::SetElementAttribute("FormatName", formats[i], item);
        item->SetText(text::Utf8ToCp1251(texts[i]));
    }
}

// Packs `src`/image.0 into a package at `package` under the default password.
void PackImageFile(const fs::path& src, const fs::path& package) {
    zip::TZipWriter outer;
    outer.Create(package);
    outer.SetBaseDirectory(src);
    outer.AddFile("image.0", false);
    outer.SetPassword(std::string(package::kDefaultPackagePassword));
    outer.WriteArchive();
}

class InspectTest : public TTempDirTest {
protected:
    void SetUp() override {
        TTempDirTest::SetUp();
        fs::create_directories(Dir / "tmp");
        setenv("TMP", (Dir / "tmp").c_str(), 1);
        package::SetUpPackageDocument(doc_);
        AddObject(doc_.CommonModules, "Общие.Общие модули.Сервис", {"a", "bb", "ccc", "", "e<&>\"'", "Модуль"});
        AddObject(doc_.Directories, "Справочники.Склады", {"1", "2", "3", "4", "5", "6"});
        AddObject(doc_.Directories, "Справочники.Склады.Реквизит.Адрес", {"x", "", "", "", std::string(1000, 'z')});
        AddObject(doc_.Subsystems, "Общие.Подсистемы.Склад", {"s", "u", "b", "s", "ys"});
        WriteFile(Dir / "license.txt", "Agreement text");
        WriteFile(Dir / "description.txt", text::Utf8ToCp1251("Описание пакета: склад"));
    }
    void TearDown() override {
        unsetenv("TMP");
        TTempDirTest::TearDown();
    }
    fs::path Build(const std::string& keyUtf8) {
        const fs::path package = Dir / "Пакет.1c82pkg";
        package::TAssemblyInput in{(Dir / "license.txt").string(), (Dir / "description.txt").string(),
                                   text::PathTo1251(package), text::Utf8ToCp1251(keyUtf8)};
        platform::fakes::TFakeClock clock;
        platform::fakes::TFakeClipboard clipboard(clock);
        // Fixed "random" bytes for the encryption headers.
        std::uint8_t next = 1;
        package::AssemblePackage(*doc_.Document, in, clipboard, clock, [&next](void* data, std::size_t size) {
            for (std::size_t i = 0; i < size; ++i) static_cast<std::uint8_t*>(data)[i] = next++;
        });
        return package;
    }
    package::TPackageDocument doc_;
};

const std::string kObjects =
    "CommonModules:\n"
    "  Общие.Общие модули.Сервис\n"
    "    CF_TEXT\t1\n    CF_UNICODETEXT\t2\n    1C:MD8 Data\t3\n    1C:MD8 External Data\t0\n"
    "    1C:MD8 Info\t6\n    1C:V8MngCmdObjectsDataFormat\t6\n"
    "Directories:\n"
    "  Справочники.Склады\n"
    "    CF_TEXT\t1\n    CF_UNICODETEXT\t1\n    1C:MD8 Data\t1\n    1C:MD8 External Data\t1\n"
    "    1C:MD8 Info\t1\n    1C:V8MngCmdObjectsDataFormat\t1\n"
    "  Справочники.Склады.Реквизит.Адрес\n"
    "    CF_TEXT\t1\n    CF_UNICODETEXT\t0\n    1C:MD8 Data\t0\n    1C:MD8 External Data\t0\n"
    "    1C:MD8 Info\t1000\n"
    "Processings:\n"
    "Subsystems:\n"
    "  Общие.Подсистемы.Склад\n"
    "    CF_TEXT\t1\n    CF_UNICODETEXT\t1\n    1C:MD8 Data\t1\n    1C:MD8 External Data\t1\n"
    "    1C:MD8 Info\t2\n";

TEST_F(InspectTest, ListsEntriesAndObjectsOfAPackageOfTheAssembly) {
    const fs::path package = Build("");
    const TRun r = RunTool({"inspect", package.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    // Each entry line as Python's zipfile sees the entry.
    const std::string listing = Capture("python3 " LIST_PACKAGE_SCRIPT " '" + package.string() + "' " +
                                        Hex(std::string(package::kDefaultPackagePassword)) + " " +
                                        Hex(std::string(package::kImagePassword)));
    std::istringstream lines(listing);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_NE(r.Out.find(line + "\n"), std::string::npos) << "missing: " << line << "\nin:\n" << r.Out;
    EXPECT_EQ(count, 4);  // agreement, description, image.0; PackageData.xml
    EXPECT_NE(r.Out.find("package: 3 entries, opened with the default package password\n"), std::string::npos);
    EXPECT_NE(r.Out.find("  Пользовательское соглашение.txt\t"), std::string::npos);
    const std::string xmlSize = std::to_string(doc_.Document->GetXml().size());
    EXPECT_NE(r.Out.find(kObjects + "PackageData.xml: " + xmlSize +
                         " bytes, 4 objects, every CRC verified, matches the package layout\n"
                         "  copyright: Создано программой Мастер создания пакета инсталляции 1С 8.2\n"),
              std::string::npos)
        << r.Out;
}

// Packs the files of `src` named in `names`, in that order, into image.0
// under the inner password, then image.0 into a package at `package`.
void PackImage(const fs::path& src, const std::vector<std::string>& names, const fs::path& package) {
    zip::TZipWriter image;
    image.Create(src / "image.0");
    image.SetBaseDirectory(src);
    for (const std::string& name : names) image.AddFile(name, false);
    image.SetPassword(std::string(package::kImagePassword));
    image.WriteArchive();
    PackImageFile(src, package);
}

// InspectPackage with the text printer, in this process.
std::pair<std::string, pkgtool::TInspectWork> InspectText(const fs::path& package) {
    std::ostringstream out;
    const std::unique_ptr<pkgtool::IInspectionSink> printer = pkgtool::TextPrinter(out);
    const pkgtool::TInspectWork work = pkgtool::InspectPackage(package, "", *printer);
    return {out.str(), work};
}

TEST_F(InspectTest, TheDocumentReadsTheSameWhereverImageHoldsIt) {
    // image.0 with a second entry, after PackageData.xml and before it: the
    // document is then read while image.0 is decrypted, or only afterwards.
    const fs::path src = Dir / "src";
    fs::create_directories(src);
    WriteFile(src / "PackageData.xml", doc_.Document->GetXml());
    WriteFile(src / "extra.txt", std::string(70000, 'x'));
    const std::string xmlSize = std::to_string(doc_.Document->GetXml().size());
    const std::string report = kObjects + "PackageData.xml: " + xmlSize +
                               " bytes, 4 objects, every CRC verified, matches the package layout\n"
                               "  copyright: Создано программой Мастер создания пакета инсталляции 1С 8.2\n";
    for (const std::vector<std::string>& order : {std::vector<std::string>{"PackageData.xml", "extra.txt"},
                                                  std::vector<std::string>{"extra.txt", "PackageData.xml"}}) {
        SCOPED_TRACE(order[0] + " first");
        PackImage(src, order, Dir / "p.1c82pkg");
        const auto [out, work] = InspectText(Dir / "p.1c82pkg");
        EXPECT_EQ(work.DocumentReadAhead, order[0] == "PackageData.xml");
        EXPECT_NE(out.find("image.0: 2 entries, opened with the inner password\n"), std::string::npos) << out;
        const std::size_t objects = out.find("CommonModules:\n");
        ASSERT_NE(objects, std::string::npos) << out;
        EXPECT_EQ(out.substr(objects), report);
    }
    // The package of the assembly is read ahead; with --xml it never is.
    EXPECT_TRUE(InspectText(Build("")).second.DocumentReadAhead);
    std::ostringstream xml;
    EXPECT_FALSE(pkgtool::InspectPackage(Build(""), "", *pkgtool::XmlPrinter(xml)).DocumentReadAhead);
    EXPECT_TRUE(xml.str() == doc_.Document->GetXml());
}

TEST_F(InspectTest, ADocumentOutsideTheDirectoryIsNeverReported) {
    // image.0 begins with a local entry PackageData.xml that its directory
    // does not list (another document, with no objects); the listed one
    // follows. What is reported must be the listed one.
    const fs::path orphan = Dir / "orphan", src = Dir / "src";
    fs::create_directories(orphan);
    fs::create_directories(src);
    package::TPackageDocument other;
    package::SetUpPackageDocument(other);
    WriteFile(orphan / "PackageData.xml", other.Document->GetXml());
    PackImage(orphan, {"PackageData.xml"}, Dir / "unused.1c82pkg");
    const std::string orphanArchive = ReadAll(orphan / "image.0");
    // The local entry: everything before the central directory, whose offset
    // the end record (the last 22 bytes) holds at byte 16.
    const std::string end = orphanArchive.substr(orphanArchive.size() - 22);
    const std::size_t directory = static_cast<unsigned char>(end[16]) | static_cast<unsigned char>(end[17]) << 8 |
                                  static_cast<unsigned char>(end[18]) << 16 |
                                  static_cast<std::size_t>(static_cast<unsigned char>(end[19])) << 24;
    const std::string orphanEntry = orphanArchive.substr(0, directory);

    WriteFile(src / "PackageData.xml", doc_.Document->GetXml());
    zip::TZipWriter image;
    image.Create(src / "image.0");
    image.SetStartOffset(orphanEntry.size());
    image.SetBaseDirectory(src);
    image.AddFile("PackageData.xml", false);
    image.SetPassword(std::string(package::kImagePassword));
    image.WriteArchive();
    std::string bytes = ReadAll(src / "image.0");
    bytes.replace(0, orphanEntry.size(), orphanEntry);
    fs::remove(src / "PackageData.xml");
    WriteFile(src / "image.0", bytes);
    PackImageFile(src, Dir / "p.1c82pkg");

    const auto [out, work] = InspectText(Dir / "p.1c82pkg");
    EXPECT_FALSE(work.DocumentReadAhead);
    EXPECT_NE(out.find(kObjects + "PackageData.xml: " + std::to_string(doc_.Document->GetXml().size()) + " bytes, 4 objects"),
              std::string::npos)
        << out;
}

TEST_F(InspectTest, XmlAndJsonGiveTheSameFacts) {
    const fs::path package = Build("Ключ-1");
    TRun r = RunTool({"inspect", "--key", "Ключ-1", "--xml", package.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(r.Out == doc_.Document->GetXml()) << "--xml gave other bytes than the document";

    r = RunTool({"inspect", "--key", "Ключ-1", "--json", package.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["defaultKey"], false);
    ASSERT_EQ(j["entries"].size(), 3u);
    EXPECT_EQ(j["entries"][1]["name"], "Описание пакета.txt");
    EXPECT_EQ(j["entries"][1]["size"], 22);  // "Описание пакета: склад" in Windows-1251
    EXPECT_EQ(j["entries"][1]["encrypted"], true);
    EXPECT_EQ(j["image"]["entries"][0]["name"], "PackageData.xml");
    const auto& sections = j["packageData"]["sections"];
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[2]["name"], "Processings");
    EXPECT_EQ(sections[2]["objects"].size(), 0u);
    EXPECT_EQ(sections[1]["objects"][1]["objectPath"], "Справочники.Склады.Реквизит.Адрес");
    EXPECT_EQ(sections[1]["objects"][1]["formats"][4]["name"], "1C:MD8 Info");
    EXPECT_EQ(sections[1]["objects"][1]["formats"][4]["size"], 1000);
    EXPECT_EQ(sections[0]["objects"][0]["formats"][4]["size"], 6);
}

TEST_F(InspectTest, APackageWithoutObjectsShowsItsFourEmptySections) {
    package::SetUpPackageDocument(doc_);
    const fs::path package = Build("");
    TRun r = RunTool({"inspect", package.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("CommonModules:\nDirectories:\nProcessings:\nSubsystems:\nPackageData.xml: " +
                         std::to_string(doc_.Document->GetXml().size()) + " bytes, 0 objects,"),
              std::string::npos)
        << r.Out;
    r = RunTool({"inspect", "--json", package.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    const auto& sections = j["packageData"]["sections"];
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[3]["name"], "Subsystems");
    for (const auto& section : sections) EXPECT_EQ(section["objects"].size(), 0u);
}

TEST_F(InspectTest, WrongKeyIsAnErrorNotData) {
    const fs::path package = Build("Ключ-1");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"inspect", package.string()}, {"inspect", "--key", "Ключ-2", package.string()},
          {"inspect", "--key", "Ключ-2", "--xml", package.string()}}) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err.find("password"), std::string::npos) << r.Err;
    }
    const TRun r = RunTool({"inspect", "--key", "Ключ-1", package.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("opened with the key given"), std::string::npos);
}

TEST_F(InspectTest, DamagedPackagesGiveACleanError) {
    const std::string good = ReadAll(Build(""));
    const std::vector<std::pair<std::string, std::string>> damaged = DamagedCopies(good);
    int refused = 0;
    for (const auto& [what, bytes] : damaged) {
        const fs::path path = Dir / "damaged.1c82pkg";
        WriteFile(path, bytes);
        const TRun r = RunTool({"inspect", path.string()});
        if (r.Status == 0) continue;  // a byte no check covers (a version, an attribute)
        ++refused;
        EXPECT_EQ(r.Status, 1) << what;
        // Objects may have been printed before the fault; the verdict never is.
        EXPECT_EQ(r.Out.find("matches the package layout"), std::string::npos) << what;
        EXPECT_NE(r.Err, "") << what;
    }
    // The entries' times (the time of writing) enter the encrypted bytes, so
    // whether Deflate beats storing image.0, and with it the layout, can
    // change from run to run; a sample may then fall on one of the few
    // fields no check covers (versions, attributes).
    EXPECT_GE(refused, static_cast<int>(damaged.size()) - 2);

    const TRun missing = RunTool({"inspect", (Dir / "нет.1c82pkg").string()});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("Cannot open file"), std::string::npos) << missing.Err;
}

TEST_F(InspectTest, ADocumentOffTheLayoutIsAnError) {
    // A package whose PackageData.xml has its sections in another order.
    const fs::path src = Dir / "src";
    fs::create_directories(src);
    WriteFile(src / "PackageData.xml", "<1C8InstallationPackage copyright=\"c\"><Directories/><CommonModules/>"
                                       "<Processings/><Subsystems/></1C8InstallationPackage>");
    auto write = [](const fs::path& archive, const fs::path& base, const std::string& name, std::string_view password) {
        zip::TZipWriter w;
        w.Create(archive);
        w.SetBaseDirectory(base);
        w.AddFile(name, true);
        w.SetPassword(std::string(password));
        w.WriteArchive();
    };
    write(src / "image.0", src, "PackageData.xml", package::kImagePassword);
    write(Dir / "p.1c82pkg", src, "image.0", package::kDefaultPackagePassword);
    TRun r = RunTool({"inspect", (Dir / "p.1c82pkg").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("does not match the package layout"), std::string::npos) << r.Err;

    // A package without image.0.
    write(Dir / "q.1c82pkg", src, "PackageData.xml", package::kDefaultPackagePassword);
    r = RunTool({"inspect", (Dir / "q.1c82pkg").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "The package holds no image.0\n");
}

}  // namespace
