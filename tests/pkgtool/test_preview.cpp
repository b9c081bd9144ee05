// pkgtool preview and the command line's own behaviour.
#include <gtest/gtest.h>

#include "PkgtoolTestUtil.h"
#include "pkgtool/Build.h"
#include "tests/package/ReportTestUtil.h"
#include "text/Codepage.h"
#include "text/Error.h"

using namespace pkgtest;

namespace {

// The wizard's message when a capture fails, as the console shows it.
const std::string kCaptureFailed =
    "ОШИБКА ПОЛУЧЕНИЯ ДАННЫХ ДЛЯ ФОРИМРОВАНИЯ ПАКЕТА.\nПопробуйте увеличить задержку и повторите попытку\n";

// A report that opens as the worked example, with objects of the four kinds,
// a directory's attribute passed over and one taken, a module block whose
// text holds a new-object line, a trailing blank, and (optionally) an object
// of a kind with no section.
std::string Report(const std::string& tail) {
    return std::string(reporttest::kWorkedExampleHead) +
           "\t\t\t  <--Справочник.ВМодуле\r\n"
           "Процедура Тест() КонецПроцедуры\r\n"
           "\t\t\t  <--Обработка.Загрузка.Форма.Основная\r\n"
           "\t\t  <--Справочник.Склады.Реквизит.Адрес\r\n"
           "\t\t  <--ОбщийМодуль.Сервис \r\n"
           "\t\t  <--Подсистема.Склад\r\n" +
           tail;
}

const std::string kCapturedLines =
    "Справочник.Склады\tDirectories\tСправочники.Склады\t6\n"
    "Обработка.Загрузка.Форма.Основная\tProcessings\tОбработки.Загрузка.Форма.Основная\t6\n"
    "Справочник.Склады.Реквизит.Адрес\tDirectories\tСправочники.Склады.Реквизит.Адрес\t5\n"
    "ОбщийМодуль.Сервис \tCommonModules\tОбщие.Общие модули.Сервис \t6\n"
    "Подсистема.Склад\tSubsystems\tОбщие.Подсистемы.Склад\t5\n";

class PreviewTest : public TTempDirTest {
protected:
    std::string WriteReport(const std::string& utf8) {
        const fs::path path = Dir / "Отчет.txt";
        WriteFile(path, text::Utf8ToCp1251(utf8));
        return path.string();
    }
};

TEST_F(PreviewTest, PrintsWhatABuildWouldCapture) {
    const std::string report = WriteReport(Report(""));
    TRun r = RunTool({"preview", report});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, kCapturedLines);
    EXPECT_EQ(r.Err, "");

    r = RunTool({"preview", "--count", report});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "5\n");
}

TEST_F(PreviewTest, StopsWhereABuildWouldStop) {
    // Objects of kinds with no section: a build would stop at the first; one
    // run lists them all, each with the message that names it, and exits 1.
    TRun r = RunTool({"preview", WriteReport(Report("\t\t  <--Документ.Заказ\r\n\t\t  <--Подсистема.После\r\n"
                                                    "\t\t  <--Отчет.Остатки\r\n"))});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, kCapturedLines + "Документ.Заказ\t-\t-\t0\n"
                                      "Подсистема.После\tSubsystems\tОбщие.Подсистемы.После\t5\n"
                                      "Отчет.Остатки\t-\t-\t0\n");
    const std::string tail = " не может войти в пакет: пакет переносит только подсистемы, общие модули, справочники "
                             "и обработки (и их части).\nИсключите этот объект из отчета о сравнении и повторите "
                             "попытку\n";
    EXPECT_EQ(r.Err, "Объект Документ.Заказ" + tail + "Объект Отчет.Остатки" + tail);

    r = RunTool({"preview", "--count", WriteReport(Report("\t\t  <--Документ.Заказ\r\n"))});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");

    // A range that is not two integers: the objects before it, then the error.
    r = RunTool({"preview", WriteReport(Report("\t\t\t  Модуль формы: Различаются значения\r\n"
                                           "\t\t\tОбъект присутствует только в основной конфигурации: 4x - 5\r\n"
                                           "\t\t  <--Подсистема.После\r\n"))});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, kCapturedLines);
    EXPECT_EQ(r.Err, "'4x' is not a valid integer value\n");

    r = RunTool({"preview", (Dir / "нет.txt").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "File not found\n");
}

TEST(PkgtoolCommandLine, HelpVersionAndUsage) {
    TRun r = RunTool({"--version"});
    EXPECT_EQ(r.Status, 0);
    // The version the build was configured with (cmake/Version.cmake).
    EXPECT_EQ(r.Out, "pkgtool " CONFIGURED_VERSION "\n");

    for (const char* command : {"preview", "inspect", "build"}) {
        r = RunTool({command, "--help"});
        EXPECT_EQ(r.Status, 0) << command;
        EXPECT_NE(r.Out.find(std::string("Usage: pkgtool ") + command), std::string::npos) << r.Out;
    }

    // Wrong command lines: exit 2 with a message, nothing run.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"preview"}, {"frobnicate"}, {"inspect", "p", "--xml", "--json"},
             {"build", "--report", "r", "--package", "p", "--key", "K", "--new-key"},
             {"build", "--report", "r", "--package", "p", "--delay", "5"}}) {
        r = RunTool(args);
        EXPECT_EQ(r.Status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.Err, "") << testing::PrintToString(args);
    }
}

TEST(PkgtoolCommandLine, BuildTakesOnlyWhatTheWizardsFieldsCouldHold) {
    pkgtool::TBuildOptions o;
    o.Report = "Отчет.txt";
    o.Package = "Пакет.1c82pkg";
    o.Key = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";  // 36 characters: the most the key field takes
    o.Window = "Склад";
    const pkgtool::TBuildRequest r = pkgtool::CheckBuildOptions(o);
    EXPECT_EQ(r.Report, "\xCE\xF2\xF7\xE5\xF2.txt");
    EXPECT_EQ(r.Window, "\xD1\xEA\xEB\xE0\xE4");
    EXPECT_EQ(r.Key, o.Key);

    o.Key += "0";
    EXPECT_THROW(pkgtool::CheckBuildOptions(o), text::TError) << "37 characters";
    o.Key = "ключ";  // four characters, four bytes in Windows-1251
    EXPECT_EQ(pkgtool::CheckBuildOptions(o).Key, "\xEA\xEB\xFE\xF7");
    o.Package = "пакет-\xE2\x82\xAC-\xE4\xB8\xAD.1c82pkg";  // the euro sign is in the page, the CJK letter is not
    EXPECT_THROW(pkgtool::CheckBuildOptions(o), text::TError);
    o.Package = "p.1c82pkg";
    o.Key = "\xF0\x9F\x94\x91";
    EXPECT_THROW(pkgtool::CheckBuildOptions(o), text::TError) << "a key the installer could never be given";
}

#ifndef _WIN32
TEST(PkgtoolCommandLine, BuildSaysItNeedsWindows) {
    const TRun r = RunTool({"build", "--report", "r.txt", "--package", "p.1c82pkg"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err.find("only in the Windows build"), std::string::npos) << r.Err;
}
#endif

}  // namespace
