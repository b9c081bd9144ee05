#include <gtest/gtest.h>

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

}  // namespace
