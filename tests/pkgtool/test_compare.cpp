// pkgtool verify and diff on packages Info-ZIP writes from documents written
// out here, on damaged packages, and the sorted records they compare through.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "PkgtoolTestUtil.h"
#include "package/PackageAssembly.h"
#include "pkgtool/SortedRecords.h"
#include "text/Codepage.h"
#include "zip/ZipWriter.h"

using namespace pkgtest;

namespace {

int Shell(const std::string& command) {
    const int rc = std::system(("LC_ALL=C.UTF-8 " + command).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

const std::vector<std::string> kFive = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info"};
std::vector<std::string> Six() {
    std::vector<std::string> f = kFive;
    f.push_back("1C:V8MngCmdObjectsDataFormat");
    return f;
}

struct TObject {
    std::string Section;
    std::string Path;  // UTF-8
    std::vector<std::string> Formats;
    std::vector<std::string> Texts;  // as the document holds them (entities written out); missing ones "x"
};

// PackageData.xml in the build's compact form, Windows-1251.
std::string Document(const std::vector<TObject>& objects) {
    std::string xml = "<1C8InstallationPackage copyright=\"c\">";
    for (const char* section : {"CommonModules", "Directories", "Processings", "Subsystems"}) {
        xml += std::string("<") + section + ">";
        for (const TObject& o : objects) {
            if (o.Section != section) continue;
            xml += "<AddObject ObjectPath=\"" + o.Path + "\">";
            for (std::size_t i = 0; i < o.Formats.size(); ++i)
                xml += "<Item FormatName=\"" + o.Formats[i] + "\">" + (i < o.Texts.size() ? o.Texts[i] : "x") + "</Item>";
            xml += "</AddObject>";
        }
        xml += std::string("</") + section + ">";
    }
    return text::Utf8ToCp1251(xml + "</1C8InstallationPackage>");
}

std::string ReportText(const std::vector<std::string>& names) {
    std::string r = "Отчет о сравнении\r\n\tКонфигурация\r\n";
    for (const std::string& name : names) r += "\t\t  <--" + name + "\r\n";
    return text::Utf8ToCp1251(r);
}

class CompareTest : public TTempDirTest {
protected:
    // A package written by Info-ZIP: image.0 (the document under the inner
    // password), then the agreement and description when given, under `key`.
    fs::path Package(const std::string& name, const std::string& document, const std::string& agreement,
                     const std::string& description, const std::string& key = std::string(package::kDefaultPackagePassword)) {
        const fs::path src = Dir / (name + ".src");
        fs::create_directories(src);
        WriteFile(src / "PackageData.xml", document);
        EXPECT_EQ(Shell("cd '" + src.string() + "' && zip -q -e -P " + std::string(package::kImagePassword) +
                        " image.0 PackageData.xml"),
                  0);
        std::string files;
        if (!agreement.empty()) {
            WriteFile(src / "Пользовательское соглашение.txt", agreement);
            files += " 'Пользовательское соглашение.txt'";
        }
        if (!description.empty()) {
            WriteFile(src / "Описание пакета.txt", description);
            files += " 'Описание пакета.txt'";
        }
        const fs::path package = Dir / (name + ".1c82pkg");
        // The key as Windows-1251 bytes, as pkgtool takes it.
        EXPECT_EQ(Shell("cd '" + src.string() + "' && zip -q -e -P '" + text::Utf8ToCp1251(key) + "' '" + package.string() + "'" + files +
                        " image.0"),
                  0);
        return package;
    }
    fs::path Report(const std::vector<std::string>& names) {
        const fs::path path = Dir / "report.txt";
        WriteFile(path, ReportText(names));
        return path;
    }
};

const std::vector<TObject> kShipped = {
    {"CommonModules", "Общие.Общие модули.Сервис", Six(), {}},
    {"Directories", "Справочники.Склады", Six(), {}},
    {"Directories", "Справочники.Склады.Реквизит.Адрес", kFive, {}},
    {"Subsystems", "Общие.Подсистемы.Склад", kFive, {}},
};
// The report of kShipped. The attribute line is one level deeper than the
// directory captured before it: the build passes it over, then a group
// line lets the next one in.
std::string ShippedReport() {
    return ReportText({"Справочник.Склады", "ОбщийМодуль.Сервис", "Подсистема.Склад"}) +
           text::Utf8ToCp1251("\t\t\t  <--Справочник.Склады.Реквизит.Лишний\r\n"
                              "\t\t  ***\r\n\t\t\t  <--Справочник.Склады.Реквизит.Адрес\r\n");
}

TEST_F(CompareTest, VerifyMatchesAPackageHoldingWhatItsReportCaptures) {
    WriteFile(Dir / "report.txt", ShippedReport());
    const fs::path package = Package("p", Document(kShipped), "Соглашение", "Описание", "Ключ-1");
    TRun r = RunTool({"verify", "--report", (Dir / "report.txt").string(), "--key", "Ключ-1", package.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "report: 4 objects, package: 4 objects; the package matches the report\n");
    EXPECT_EQ(r.Err, "");

    r = RunTool({"verify", "--json", "--report", (Dir / "report.txt").string(), "--key", "Ключ-1", package.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["differences"].size(), 0u);
    EXPECT_EQ(j["matches"], true);
    EXPECT_EQ(j["packageObjects"], 4);

    // Without an agreement and a description: still a match, with warnings.
    const fs::path bare = Package("bare", Document(kShipped), "", "");
    r = RunTool({"verify", "--report", (Dir / "report.txt").string(), bare.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "warning: the package holds no Пользовательское соглашение.txt\n"
              "warning: the package holds no Описание пакета.txt\n"
              "report: 4 objects, package: 4 objects; the package matches the report\n");
}

TEST_F(CompareTest, VerifyListsEveryDifferenceThenTheVerdict) {
    const fs::path report = Report({"Справочник.Склады", "Справочник.Товары", "Справочник.Цены", "ОбщийМодуль.Сервис",
                                    "Документ.Заказ", "Подсистема.Склад", "Обработка.Загрузка"});
    std::vector<std::string> moduleFormats = kFive, subsystemFormats = Six(), swapped = Six();
    std::swap(swapped[0], swapped[1]);
    const fs::path package = Package("p",
                                     Document({
                                         {"CommonModules", "Общие.Общие модули.Сервис", moduleFormats, {}},
                                         {"Directories", "Справочники.Цены", Six(), {}},
                                         {"Directories", "Справочники.Склады", swapped, {}},
                                         {"Directories", "Справочники.Товары", Six(), {}},
                                         {"Directories", "Справочники.Лишний", Six(), {}},
                                         {"Subsystems", "Общие.Подсистемы.Склад", subsystemFormats, {}},
                                     }),
                                     "A", "D");
    TRun r = RunTool({"verify", "--report", report.string(), package.string()});
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Out,
              "kind not carried\t-\tДокумент.Заказ\n"
              "missing format\tCommonModules\tОбщие.Общие модули.Сервис\t1C:V8MngCmdObjectsDataFormat\n"
              "unexpected\tDirectories\tСправочники.Лишний\n"
              "formats out of order\tDirectories\tСправочники.Склады\n"
              "out of order\tDirectories\tСправочники.Цены\n"
              "missing\tProcessings\tОбработки.Загрузка\n"
              "extra format\tSubsystems\tОбщие.Подсистемы.Склад\t1C:V8MngCmdObjectsDataFormat\n"
              "report: 7 objects, package: 6 objects; the package does not match the report: 7 differences\n");

    r = RunTool({"verify", "--json", "--report", report.string(), package.string()});
    EXPECT_EQ(r.Status, 1);
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    ASSERT_EQ(j["differences"].size(), 7u);
    EXPECT_EQ(j["differences"][1]["format"], "1C:V8MngCmdObjectsDataFormat");
    EXPECT_EQ(j["differences"][4]["what"], "out of order");
    EXPECT_EQ(j["differences"][4]["objectPath"], "Справочники.Цены");
    EXPECT_EQ(j["matches"], false);
}

// Objects that come in the report's order are matched as they arrive; from
// the first that does not, the rest of the section is compared by key. The
// second Б pairs with the second Б although the first matched on the way.
TEST_F(CompareTest, VerifyComparesByKeyFromTheFirstObjectOutOfStep) {
    const fs::path report = Report({"Справочник.А", "Справочник.Б", "Справочник.В", "Справочник.Г", "Справочник.Б",
                                    "Справочник.Д", "Подсистема.Склад", "ОбщийМодуль.Сервис", "ОбщийМодуль.Печать"});
    const fs::path package = Package("p",
                                     Document({
                                         {"CommonModules", "Общие.Общие модули.Сервис", Six(), {}},
                                         {"Directories", "Справочники.А", Six(), {}},
                                         {"Directories", "Справочники.Б", Six(), {}},
                                         {"Directories", "Справочники.Г", Six(), {}},
                                         {"Directories", "Справочники.Б", Six(), {}},
                                         {"Directories", "Справочники.Д", kFive, {}},
                                         {"Directories", "Справочники.В", Six(), {}},
                                         {"Directories", "Справочники.Е", Six(), {}},
                                         {"Subsystems", "Общие.Подсистемы.Склад", kFive, {}},
                                     }),
                                     "A", "D");
    const TRun r = RunTool({"verify", "--report", report.string(), package.string()});
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Out,
              "missing\tCommonModules\tОбщие.Общие модули.Печать\n"
              "out of order\tDirectories\tСправочники.В\n"
              "missing format\tDirectories\tСправочники.Д\t1C:V8MngCmdObjectsDataFormat\n"
              "unexpected\tDirectories\tСправочники.Е\n"
              "report: 9 objects, package: 9 objects; the package does not match the report: 4 differences\n");

    // Out of step at the first object, and Г falls in its report place again
    // by chance: it still counts among those out of order, since А Б В Д is
    // the longest run that keeps the report's order.
    std::vector<std::string> names, paths = {"Е", "Ж", "З", "Г", "А", "Б", "В", "Д"};
    for (const char* name : {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"}) names.push_back(std::string("ОбщийМодуль.") + name);
    std::vector<TObject> modules;
    for (const std::string& path : paths) modules.push_back({"CommonModules", "Общие.Общие модули." + path, Six(), {}});
    const TRun m = RunTool({"verify", "--report", Report(names).string(), Package("m", Document(modules), "A", "D").string()});
    EXPECT_EQ(m.Out,
              "out of order\tCommonModules\tОбщие.Общие модули.Г\n"
              "out of order\tCommonModules\tОбщие.Общие модули.Е\n"
              "out of order\tCommonModules\tОбщие.Общие модули.Ж\n"
              "out of order\tCommonModules\tОбщие.Общие модули.З\n"
              "report: 8 objects, package: 8 objects; the package does not match the report: 4 differences\n");
}

TEST_F(CompareTest, DiffNamesWhatChangedPerSection) {
    const fs::path before = Package("old",
                                    Document({
                                        {"Directories", "Справочники.Склады", Six(), {"a"}},
                                        {"Directories", "Справочники.Склады", Six(), {"a", "x", "&lt;"}},
                                        {"Directories", "Справочники.Товары", Six(), {}},
                                        {"Subsystems", "Общие.Подсистемы.Склад", kFive, {}},
                                    }),
                                    "A1", "D");
    // The second Склады changes four formats (two keeping their sizes), Товары goes, Цены comes, and
    // the agreement changes; the first Склады and the subsystem stay.
    const fs::path after = Package("new",
                                   Document({
                                       {"Directories", "Справочники.Цены", Six(), {}},
                                       {"Directories", "Справочники.Склады", Six(), {"a"}},
                                       {"Directories", "Справочники.Склады", Six(), {"&amp;b", "y", "&gt;", "x", "x&lt;y"}},
                                       {"Subsystems", "Общие.Подсистемы.Склад", kFive, {}},
                                   }),
                                   "Agreement", "D", "Ключ-2");
    TRun r = RunTool({"diff", "--new-key", "Ключ-2", before.string(), after.string()});
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Out,
              "Directories:\n"
              "  ~ Справочники.Склады (occurrence 2)\n"
              "      CF_TEXT\t1 -> 2\n"
              "      CF_UNICODETEXT\t1 -> 1\n"
              "      1C:MD8 Data\t1 -> 1\n"
              "      1C:MD8 Info\t1 -> 3\n"
              "  - Справочники.Товары\n"
              "  + Справочники.Цены\n"
              "agreement: changed (2 -> 9 bytes)\n"
              "description: same\n"
              "1 object added, 1 removed, 1 changed; the content differs\n");

    r = RunTool({"diff", "--json", "--old-key", "", "--new-key", "Ключ-2", before.string(), after.string()});
    EXPECT_EQ(r.Status, 1) << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    ASSERT_EQ(j["sections"].size(), 4u);
    EXPECT_EQ(j["sections"][0]["changes"].size(), 0u);
    const auto& changes = j["sections"][1]["changes"];
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0]["occurrence"], 2);
    EXPECT_EQ(changes[0]["formats"][3]["name"], "1C:MD8 Info");
    EXPECT_EQ(changes[0]["formats"][3]["sizeAfter"], 3);
    EXPECT_EQ(changes[2]["change"], "added");
    EXPECT_EQ(j["agreement"]["change"], "changed");
    EXPECT_EQ(j["same"], false);

    // The same content written by the project's writer under another key:
    // its document is read while image.0 is still being decrypted.
    const fs::path src = Dir / "old.src", copy = Dir / "copy.1c82pkg";
    fs::remove(src / "image.0");
    auto write = [](const fs::path& archive, const fs::path& base, const std::vector<std::string>& names,
                    std::string_view password) {
        zip::TZipWriter w;
        w.Create(archive);
        w.SetBaseDirectory(base);
        for (const std::string& name : names) w.AddFile(name, true);
        w.SetPassword(std::string(password));
        w.WriteArchive();
    };
    write(src / "image.0", src, {"PackageData.xml"}, package::kImagePassword);
    write(copy, src, {text::Utf8ToCp1251("Пользовательское соглашение.txt"), text::Utf8ToCp1251("Описание пакета.txt"), "image.0"},
          "K");
    r = RunTool({"diff", "--new-key", "K", before.string(), copy.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "agreement: same\ndescription: same\n0 objects added, 0 removed, 0 changed; the content is the same\n");
}

TEST_F(CompareTest, UnreadableInputsAreTroubleNotADifference) {
    const fs::path report = Dir / "report.txt";
    WriteFile(report, ShippedReport());
    const fs::path good = Package("good", Document(kShipped), "A", "D");
    int refused = 0, total = 0;
    for (const auto& [what, bytes] : DamagedCopies(ReadAll(good))) {
        const fs::path path = Dir / "damaged.1c82pkg";
        WriteFile(path, bytes);
        // Info-ZIP writes random encryption headers and the time, so which
        // damaged bytes land in fields no check covers differs from run to
        // run: what inspect accepts, verify and diff may accept too.
        const bool inspectRefuses = RunTool({"inspect", path.string()}).Status != 0;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"verify", "--report", report.string(), path.string()},
              std::vector<std::string>{"diff", good.string(), path.string()}}) {
            ++total;
            const TRun r = RunTool(args);
            if (r.Status == 0 && !inspectRefuses) continue;  // a byte no check covers (extra fields, versions)
            ++refused;
            EXPECT_EQ(r.Status, 2) << what << " " << args[0];
            EXPECT_NE(r.Err, "") << what;
            EXPECT_EQ(r.Out.find("matches"), std::string::npos) << what;
        }
    }
    EXPECT_GE(refused, total / 2);  // most damage is seen: the copies do reach the checks

    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"verify", "--report", report.string(), "--key", "wrong", good.string()},
             std::vector<std::string>{"verify", "--report", (Dir / "нет.txt").string(), good.string()},
             std::vector<std::string>{"diff", good.string(), (Dir / "нет.1c82pkg").string()},
             std::vector<std::string>{"diff", "--key", "a", "--old-key", "b", good.string(), good.string()},
             std::vector<std::string>{"verify", good.string()},
         }) {
        const TRun r = RunTool(args);
        EXPECT_EQ(r.Status, 2) << args[0] << " " << args[1] << "\n" << r.Out << r.Err;
    }
}

struct TKeyRecord {
    std::uint64_t Key = 0;
    std::string Tail;
    std::size_t Bytes() const { return 64; }
    void Write(std::string& out) const {
        pkgtool::PutU64(out, Key);
        pkgtool::PutString(out, Tail);
    }
    void Read(pkgtool::TRecordReader& in) {
        Key = in.U64();
        in.String(Tail);
    }
};
struct TKeyLess {
    bool operator()(const TKeyRecord& a, const TKeyRecord& b) const { return a.Key < b.Key; }
};

TEST_F(CompareTest, SortedRecordsComeInOrderFromMemoryAndFromRuns) {
    // 1001 records: all in memory, then in runs of 10 (one record left in
    // memory at the end) and of 1 record.
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> keys(1001);
    for (std::uint64_t& k : keys) k = random();
    std::vector<std::uint64_t> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t budget : {std::size_t(1) << 20, std::size_t(640), std::size_t(1)}) {
        pkgtool::TSortedRecords<TKeyRecord, TKeyLess> records(Dir, "r" + std::to_string(budget), budget);
        for (std::uint64_t k : keys) records.Add({k, std::string(k % 300, 'x')});
        records.Seal();
        EXPECT_EQ(records.Count(), 1001u);
        for (int pass = 0; pass < 2; ++pass) {
            auto cursor = records.Read();
            std::vector<std::uint64_t> read;
            for (TKeyRecord r; cursor.Next(r);) {
                EXPECT_EQ(r.Tail.size(), r.Key % 300);
                read.push_back(r.Key);
            }
            EXPECT_EQ(read, sorted) << "budget " << budget << ", pass " << pass;
        }
    }
}

}  // namespace
