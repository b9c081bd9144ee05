#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "package/ReportWalk.h"
#include "platform/Platform.h"
#include "tests/package/ReportTestUtil.h"
#include "text/Codepage.h"
#include "text/Error.h"

using namespace text::literals;

namespace {

// A capture that records its calls and fails for the paths in `failOn`.
class TRecordingCapture : public package::ICapture {
public:
    bool ExecuteCommand(const std::string& command, const std::string& path) override {
        EXPECT_EQ(command, "AddObject");
        paths.push_back(path);
        return std::find(failOn.begin(), failOn.end(), path) == failOn.end();
    }
    std::vector<std::string> paths;
    std::vector<std::string> failOn;
};

// A reader over bytes in memory, handed over `chunk` bytes at a time.
package::TReportReader MemoryReader(std::string bytes, std::size_t chunk = package::TReportReader::kDefaultChunk) {
    auto data = std::make_shared<std::string>(std::move(bytes));
    auto pos = std::make_shared<std::size_t>(0);
    return package::TReportReader(
        [data, pos](char* buffer, std::size_t size) {
            const std::size_t n = std::min(size, data->size() - *pos);
            std::memcpy(buffer, data->data() + *pos, n);
            *pos += n;
            return n;
        },
        chunk);
}

// Report text written in UTF-8 here, Windows-1251 as the Designer saves it.
std::string Report(std::string_view utf8) { return text::Utf8ToCp1251(utf8); }

std::vector<std::string> Paths(std::initializer_list<std::string_view> utf8) {
    std::vector<std::string> out;
    for (std::string_view p : utf8) out.push_back(text::Utf8ToCp1251(p));
    return out;
}

package::TWalkResult Walk(const std::string& report, package::ICapture& capture) {
    package::TReportReader reader = MemoryReader(report);
    return package::WalkReport(reader, capture);
}

std::string WalkError(const std::string& report) {
    TRecordingCapture capture;
    try {
        Walk(report, capture);
    } catch (const text::TError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(ReportWalk, WorkedExampleCapturesFourObjectsInReportOrder) {
    TRecordingCapture capture;
    const package::TWalkResult result = Walk(Report(reporttest::kWorkedExample), capture);
    EXPECT_TRUE(result.Completed);
    EXPECT_EQ(result.Captured, 4);
    EXPECT_EQ(capture.paths, Paths({"Справочник.Склады", "Обработка.Загрузка.Форма.Основная", "ОбщийМодуль.Сервис",
                                    "Подсистема.Склад"}));
}

TEST(ReportWalk, LevelsAndCaptureDepthDecideWhichObjectsAreTaken) {
    TRecordingCapture capture;
    const package::TWalkResult result = Walk(Report(
        "  <--Справочник.Уровень0\n"
        "\t  <--Справочник.Уровень1\n"
        "\t  ***\n"
        "\t\t\t  <--Справочник.А\n"           // level 3: taken, depth 3
        "\t\t\t  <--Справочник.Б\n"           // same level: taken
        "\t\t  <--Справочник.В\n"             // shallower: taken, depth 2
        "\t\t\t  <--Справочник.В.Реквизит.Х\n" // deeper: passed over
        "\t\t  Свойства\n"                    // other lines keep the depth
        "\t\t\t  <--Справочник.В.Реквизит.Y\n" // still passed over
        "\t  ***\n"                           // a group line at level 1 is not seen
        "\t\t\t  <--Справочник.В.Реквизит.Z\n" // still passed over
        "\t\t  ***\n"                         // a group line resets the depth
        "\t\t\t  <--Справочник.Г.Реквизит.Q  \n"
        "\t\t  x<--Справочник.Т\tY\n"         // the inner tab raises the level to 3 and shifts the cut
        ), capture);
    EXPECT_TRUE(result.Completed);
    EXPECT_EQ(capture.paths, Paths({"Справочник.А", "Справочник.Б", "Справочник.В", "Справочник.Г.Реквизит.Q  ",
                                    "Справочник.Т\tY"}));
}

TEST(ReportWalk, ModuleBlocksSkipTheirAnnouncedLines) {
    TRecordingCapture capture;
    const package::TWalkResult result = Walk(Report(
        "\t\t\t  Модуль: Различаются значения\n"
        "\t\t  <--Справочник.Съеденная\n"  // the line after the module line is always consumed
        "\t\t\t  Модуль: Различаются значения\n"
        "\t\t\tОбъект присутствует только в основной конфигурации: 41 - 41\n"
        "\t\t  <--Справочник.Пропущенная\n"  // the one line of 41 - 41
        "\t\t  <--Справочник.Первая\n"
        "\t\t\t  Модуль: Различаются значения\n"
        "\t\t\tОбъект присутствует только в основной конфигурации:  42 -  41\n"
        "\t\t  <--Справочник.Вторая\n"  // 42 - 41 skips nothing
        "\t\t\t  Модуль: различаются значения\n"  // not the marker text: an ordinary line
        "\t\t  <--Справочник.Третья\n"
        "\t\t\t  Модуль: Различаются значения (2)\n"  // the marker text not at the end: ordinary
        "\t\t  <--Справочник.Третья2\n"
        "\t\t\t  Модуль: Различаются значения\n"
        "\t\t\tДругой текст: 1 - 5\n"  // not a range line: consumed, nothing skipped
        "\t\t  <--Справочник.Четвертая\n"), capture);
    EXPECT_TRUE(result.Completed);
    EXPECT_EQ(capture.paths,
              Paths({"Справочник.Первая", "Справочник.Вторая", "Справочник.Третья", "Справочник.Третья2",
                     "Справочник.Четвертая"}));
}

TEST(ReportWalk, RangePastTheEndOfTheReportStopsThere) {
    // Counts every read, so a walk that keeps reading at the end is caught.
    class TCountingSource : public package::ILineSource {
    public:
        explicit TCountingSource(package::TReportReader reader) : reader_(std::move(reader)) {}
        bool ReadLine(std::string& line) override { ++reads; return reader_.ReadLine(line); }
        bool SkipLine() override { ++reads; return reader_.SkipLine(); }
        long reads = 0;

    private:
        package::TReportReader reader_;
    };
    for (std::string_view range : {"1 - 2000000000", "-2147483648 - 2147483647"}) {
        TCountingSource source(MemoryReader(Report(
            "\t\t  <--Справочник.А\n"
            "\t\t\t  Модуль: Различаются значения\n"
            "\t\t\tОбъект присутствует только в основной конфигурации: " + std::string(range) + "\n"
            "Процедура\n")));
        TRecordingCapture capture;
        EXPECT_TRUE(package::WalkReport(source, capture).Completed);
        EXPECT_EQ(capture.paths, Paths({"Справочник.А"}));
        EXPECT_LE(source.reads, 6);
    }
}

TEST(ReportWalk, RangeThatIsNotTwoIntegersIsAnError) {
    const std::string head = Report("\t\t\t  Модуль: Различаются значения\n\t\t\tОбъект присутствует только в основной конфигурации");
    EXPECT_EQ(WalkError(head + ": x - 5\n"), "'x' is not a valid integer value");
    EXPECT_EQ(WalkError(head + ": 41 - 42 \n"), "'42 ' is not a valid integer value");
    EXPECT_EQ(WalkError(head + ": 41-42\n"), "'41-42' is not a valid integer value");
    EXPECT_EQ(WalkError(head + ":  - 42\n"), "'' is not a valid integer value");
    EXPECT_EQ(WalkError(head + ": 41 - 42\n"), "no error");
}

TEST(ReportWalk, FirstFailedCaptureEndsTheWalk) {
    TRecordingCapture capture;
    capture.failOn = Paths({"Справочник.Б"});
    const package::TWalkResult result = Walk(Report(
        "\t\t  <--Справочник.А\n"
        "\t\t  <--Справочник.Б\n"
        "\t\t  <--Справочник.В\n"
        "\t\t\t  Модуль: Различаются значения\n"
        "\t\t\tОбъект присутствует только в основной конфигурации: x - y\n"), capture);
    EXPECT_FALSE(result.Completed);
    EXPECT_EQ(result.Captured, 1);
    EXPECT_EQ(result.FailedPath, Paths({"Справочник.Б"})[0]);
    EXPECT_EQ(capture.paths, Paths({"Справочник.А", "Справочник.Б"}));
}

TEST(ReportReader, LineEndsCarriageReturnsAndCtrlZInAnyChunking) {
    const std::string input = std::string("a\r\nb\nc\rd\r\n\nlast") + "\x1A" + "\nafter\n";
    for (std::size_t chunk : {1u, 2u, 3u, 5u, 64u * 1024u}) {
        package::TReportReader reader = MemoryReader(input, chunk);
        std::vector<std::string> lines;
        std::string line;
        while (reader.ReadLine(line)) lines.push_back(line);
        EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "cd", "", "last"})) << chunk;
        EXPECT_TRUE(reader.AtEnd());
        EXPECT_FALSE(reader.SkipLine());
    }
    for (std::string_view empty : {"", "\x1A", "\x1A" "a\n"}) {
        package::TReportReader reader = MemoryReader(std::string(empty), 2);
        std::string line = "x";
        EXPECT_TRUE(reader.AtEnd());
        EXPECT_FALSE(reader.ReadLine(line));
        EXPECT_EQ(line, "");
    }
    // A line far longer than the chunk is read whole; one that ends the
    // file without a line break too.
    const std::string longLine(200'000, 'z');
    package::TReportReader reader = MemoryReader(longLine + "\r\n" + longLine, 4096);
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, longLine);
    ASSERT_TRUE(reader.SkipLine());
    EXPECT_FALSE(reader.ReadLine(line));
}

TEST(ReportReader, OpensFilesAndReportsAMissingOne) {
    const std::filesystem::path dir = platform::CreateUniqueDirectory(std::filesystem::temp_directory_path(), "walk-");
    const std::filesystem::path file = dir / u"Отчет сравнения.txt";
    std::ofstream(file, std::ios::binary) << Report("\t\t  <--Подсистема.Склад\r\n");

    TRecordingCapture capture;
    EXPECT_TRUE(package::RunReportWalk(text::PathTo1251(file), capture).Completed);
    EXPECT_EQ(capture.paths, Paths({"Подсистема.Склад"}));

    for (const std::string& missing : {text::PathTo1251(dir / "нет.txt"), std::string()}) {
        try {
            package::RunReportWalk(missing, capture);
            ADD_FAILURE() << "a missing report must raise an error";
        } catch (const text::TError& e) {
            EXPECT_STREQ(e.what(), "File not found");
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(ReportWalk, CountOccurrencesAndStripIndent) {
    EXPECT_EQ(package::CountOccurrences("aa", "aaaaa"), 2);
    EXPECT_EQ(package::CountOccurrences("\t", "\ta\tb\t"), 3);
    EXPECT_EQ(package::CountOccurrences("", "abc"), 0);
    EXPECT_EQ(package::CountOccurrences("a", ""), 0);
    EXPECT_EQ(package::CountOccurrences("x", "abc"), 0);

    std::string line = "\t\t  <--X";
    EXPECT_EQ(package::StripIndent(line, 3), 2);
    EXPECT_EQ(line, "<--X");
    line = "\t\tText";
    EXPECT_EQ(package::StripIndent(line, 1), 2);
    EXPECT_EQ(line, "Text");
    line = "ab\tcdef";  // the tab is not in front: the cut counts it all the same
    EXPECT_EQ(package::StripIndent(line, 3), 1);
    EXPECT_EQ(line, "cdef");
    line = "\t\t a";  // shorter than the cut
    EXPECT_EQ(package::StripIndent(line, 3), 2);
    EXPECT_EQ(line, "");
}
