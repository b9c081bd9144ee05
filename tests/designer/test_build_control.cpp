#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Fakes.h"
#include "designer/BuildControl.h"
#include "text/Codepage.h"

namespace {

// Three objects, one of them passed over for its depth.
std::filesystem::path WriteReport(const char* name) {
    const std::filesystem::path report = std::filesystem::path(::testing::TempDir()) / name;
    std::ofstream(report, std::ios::binary) << text::Utf8ToCp1251(
        "Отчет\r\n"
        "\tКонфигурация\r\n"
        "\t\t  <--Справочник.Склады\r\n"
        "\t\t\t  <--Справочник.Склады.Реквизит.Адрес\r\n"
        "\t\t  <--ОбщийМодуль.Сервис\r\n"
        "\t\t  <--Подсистема.Склад\r\n");
    return report;
}

class TScriptedMonitor : public designer::IBuildMonitor {
public:
    bool BeforeObject(int number, int total) override {
        calls.push_back({number, total});
        return number != stopAt;
    }
    int stopAt = 0;
    std::vector<std::pair<int, int>> calls;
};

TEST(BuildControl, CountsTheObjectsAWalkWouldCapture) {
    EXPECT_EQ(designer::CountReportObjects(text::PathTo1251(WriteReport("count.txt"))), 3);
}

TEST(BuildControl, MonitorSeesEachObjectWithTheTotalAndCanStopBetweenTwo) {
    const std::string report = text::PathTo1251(WriteReport("stop.txt"));
    {
        fakes::TCaptureRig rig;
        TScriptedMonitor monitor;
        const auto result = designer::CaptureReportObjects(
            rig.package, report, {rig.designer, rig.designer, rig.clock, rig.clipboard, rig.delay, rig.log}, monitor);
        EXPECT_TRUE(result.Walk.Completed);
        EXPECT_FALSE(result.Stopped);
        EXPECT_EQ(monitor.calls, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    }
    {
        fakes::TCaptureRig rig;
        TScriptedMonitor monitor;
        monitor.stopAt = 2;
        const auto result = designer::CaptureReportObjects(
            rig.package, report, {rig.designer, rig.designer, rig.clock, rig.clipboard, rig.delay, rig.log}, monitor);
        EXPECT_FALSE(result.Walk.Completed);
        EXPECT_TRUE(result.Stopped);
        EXPECT_EQ(result.Walk.Captured, 1);
        ASSERT_EQ(rig.log.lines.size(), 2u);
        EXPECT_EQ(rig.log.lines[1], text::Utf8ToCp1251("Формирование пакета остановлено пользователем"));
        EXPECT_FALSE(rig.package.CommonModules->HasChildNodes()) << "the stopped object was not touched";
        EXPECT_EQ(rig.designer.selection, text::Utf8ToCp1251("Справочники.Склады")) << "no key after the stop";
    }
}

TEST(BuildControl, AFailedCaptureIsNotAStop) {
    fakes::TCaptureRig rig;
    rig.designer.dropFormats = {"1C:MD8 Info"};
    TScriptedMonitor monitor;
    const auto result = designer::CaptureReportObjects(rig.package, text::PathTo1251(WriteReport("fail.txt")),
                                                       {rig.designer, rig.designer, rig.clock, rig.clipboard, rig.delay,
                                                        rig.log},
                                                       monitor);
    EXPECT_FALSE(result.Walk.Completed);
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(monitor.calls.size(), 1u);
}

// What a build display hands to the screen, in order: "+line" for each line
// of a batch, "|" after each batch, and "N/M" for a progress.
struct TRecordedScreen {
    designer::TBuildDisplay::TScreen Screen() {
        return {[this](const std::vector<std::string>& lines) {
                    for (const std::string& line : lines) shown.push_back("+" + line);
                    shown.push_back("|");
                },
                [this](int number, int total) { shown.push_back(std::to_string(number) + "/" + std::to_string(total)); }};
    }
    std::vector<std::string> shown;
};

using TShown = std::vector<std::string>;

TEST(BuildDisplay, ShowsAtMostOncePerIntervalWithEverythingSinceAndNeverLosesOrReordersALine) {
    fakes::TFakeClock clock;
    TRecordedScreen screen;
    designer::TBuildDisplay display(clock, 100, screen.Screen());

    display.SetProgress(1, 4);
    display.AddLine("a");  // 0 ms after the first update: held
    EXPECT_EQ(screen.shown, (TShown{"1/4"})) << "the first update goes out at once";
    clock.now += 60;
    display.SetProgress(2, 4);
    display.AddLine("b");
    display.ShowIfDue();
    EXPECT_EQ(screen.shown, (TShown{"1/4"})) << "60 ms later: still held";
    clock.now += 39;
    display.SetProgress(3, 4);
    display.ShowIfDue();
    EXPECT_EQ(screen.shown, (TShown{"1/4"})) << "99 ms: held";
    clock.now += 1;
    display.AddLine("c");
    EXPECT_EQ(screen.shown, (TShown{"1/4", "+a", "+b", "+c", "|", "3/4"}))
        << "100 ms: one batch in order, and only the latest progress";

    clock.now += 10;
    display.AddLine("d");
    display.ShowIfDue();
    display.ShowNow();
    display.ShowNow();
    EXPECT_EQ(screen.shown, (TShown{"1/4", "+a", "+b", "+c", "|", "3/4", "+d", "|"}))
        << "ShowNow sends what is held, once, and nothing when nothing is";

    clock.now += 500;
    display.ShowIfDue();
    EXPECT_EQ(screen.shown.size(), 8u) << "no empty update";
    display.AddLine("e");
    EXPECT_EQ(screen.shown.back(), "|") << "a line long after the last update goes out at once";
    EXPECT_EQ(screen.shown[screen.shown.size() - 2], "+e");
}

TEST(BuildDisplay, HeldLinesReachTheScreenWhileTheCaptureWaitsForTheDesigner) {
    fakes::TCaptureRig rig;
    rig.designer.latencyMs = 30;  // each copy takes 30 ms: three objects make 90 ms
    rig.delay.text = "100";
    TRecordedScreen screen;
    designer::TBuildDisplay display(rig.clock, 45, screen.Screen());
    designer::TDisplayingClock clock(rig.clock, display);
    std::vector<std::size_t> shownBefore;  // lines on the screen as each object starts
    class TWatch : public designer::IBuildMonitor {
    public:
        TWatch(designer::TBuildDisplay& display, TRecordedScreen& screen, std::vector<std::size_t>& seen)
            : display_(display), screen_(screen), seen_(seen) {}
        bool BeforeObject(int number, int total) override {
            seen_.push_back(static_cast<std::size_t>(
                std::count_if(screen_.shown.begin(), screen_.shown.end(), [](const std::string& s) { return s[0] == '+'; })));
            display_.SetProgress(number, total);
            return true;
        }

    private:
        designer::TBuildDisplay& display_;
        TRecordedScreen& screen_;
        std::vector<std::size_t>& seen_;
    } monitor(display, screen, shownBefore);

    const auto result = designer::CaptureReportObjects(rig.package, text::PathTo1251(WriteReport("display.txt")),
                                                       {rig.designer, rig.designer, clock, rig.clipboard, rig.delay,
                                                        display},
                                                       monitor);
    display.ShowNow();
    ASSERT_TRUE(result.Walk.Completed);
    // Object 1's line comes 30 ms after the first update: held; the wait for
    // object 2's copy passes 45 ms and shows it. Object 2's line (60 ms) is
    // held until the wait for object 3 passes 90 ms.
    EXPECT_EQ(shownBefore, (std::vector<std::size_t>{0, 0, 1}));
    std::vector<std::string> lines;
    for (const std::string& s : screen.shown)
        if (s[0] == '+') lines.push_back(s.substr(1));
    const std::string ok = text::Utf8ToCp1251(") - УСПЕХ");
    const std::string start = text::Utf8ToCp1251("Захват объекта для добавления (");
    EXPECT_EQ(lines, (std::vector<std::string>{start + text::Utf8ToCp1251("Справочник.Склады") + ok,
                                               start + text::Utf8ToCp1251("ОбщийМодуль.Сервис") + ok,
                                               start + text::Utf8ToCp1251("Подсистема.Склад") + ok}));
}

}  // namespace
