#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "Fakes.h"
#include "designer/BuildDisplay.h"
#include "designer/PackageBuild.h"
#include "text/Codepage.h"
#include "text/Error.h"

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

// Records the progress and answers "stop" at its stopAt-th question.
class TScriptedMonitor : public designer::IBuildMonitor {
public:
    void Progress(int number, int total) override { calls.push_back({number, total}); }
    bool StopRequested() override { return ++asked == stopAt; }
    int stopAt = 0;
    int asked = 0;
    std::vector<std::pair<int, int>> calls;
};

designer::TCapturePorts Ports(fakes::TCaptureRig& rig) {
    return {rig.designer, rig.designer, rig.clock, rig.clipboard, rig.delay, rig.log};
}

TEST(PackageBuild, CountsTheObjectsAWalkWouldCapture) {
    EXPECT_EQ(designer::CountReportObjects(text::PathTo1251(WriteReport("count.txt"))), 3);
}

TEST(PackageBuild, MonitorSeesEachObjectWithTheTotalAndCanStopBetweenTwo) {
    const std::string report = text::PathTo1251(WriteReport("stop.txt"));
    {
        fakes::TCaptureRig rig;
        TScriptedMonitor monitor;
        const auto result = designer::CaptureReportObjects(rig.package, report, Ports(rig), monitor);
        EXPECT_TRUE(result.Walk.Completed);
        EXPECT_FALSE(result.Stopped);
        EXPECT_EQ(monitor.calls, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
        EXPECT_EQ(monitor.asked, 3);
    }
    {
        fakes::TCaptureRig rig;
        TScriptedMonitor monitor;
        monitor.stopAt = 2;
        const auto result = designer::CaptureReportObjects(rig.package, report, Ports(rig), monitor);
        EXPECT_FALSE(result.Walk.Completed);
        EXPECT_TRUE(result.Stopped);
        EXPECT_EQ(result.Walk.Captured, 1);
        ASSERT_EQ(rig.log.lines.size(), 2u);
        EXPECT_EQ(rig.log.lines[1], text::Utf8ToCp1251("Формирование пакета остановлено пользователем"));
        EXPECT_FALSE(rig.package.CommonModules->HasChildNodes()) << "the stopped object was not touched";
        EXPECT_EQ(rig.designer.selection, text::Utf8ToCp1251("Справочники.Склады")) << "no key after the stop";
    }
}

// A whole build over the fakes, into a folder of its own that TMP points into.
class PackageBuildRun : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::path(::testing::TempDir()) / "package-build-run";
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "tmp");
        const char* tmp = std::getenv("TMP");
        if (tmp) savedTmp_ = tmp;
        setenv("TMP", (root_ / "tmp").c_str(), 1);
        package_ = root_ / "package.1c82pkg";
        std::ofstream(package_, std::ios::binary) << "the previous package";
        rig_.clipboard.texts.clear();
    }
    void TearDown() override {
        if (savedTmp_) setenv("TMP", savedTmp_->c_str(), 1);
        else unsetenv("TMP");
        std::filesystem::remove_all(root_);
    }

    designer::TBuildOutcome Run(TScriptedMonitor& monitor) {
        const designer::TBuildRequest request{text::PathTo1251(WriteReport("run.txt")),
                                              {"", "", text::PathTo1251(package_), "KEY-1"}};
        return designer::RunPackageBuild(rig_.package, request, Ports(rig_), monitor, [this](const std::string& key) {
            handedOver_.push_back(key);
            keyAfterPackage_ = PackageBytes() != "the previous package";
        });
    }
    std::string PackageBytes() const {
        std::ifstream in(package_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // What the folders hold besides the package: nothing, after any build.
    std::size_t Leftovers() const {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root_))
            if (e.path() != package_ && e.path() != root_ / "tmp") ++n;
        return n;
    }

    fakes::TCaptureRig rig_;
    std::filesystem::path root_, package_;
    std::optional<std::string> savedTmp_;
    std::vector<std::string> handedOver_;
    bool keyAfterPackage_ = false;
};

TEST_F(PackageBuildRun, AStopAfterTheLastObjectOrDuringTheWriteKeepsThePreviousPackageAndTheClipboard) {
    // Questions 1-3 come before the three objects; 4 once they are captured
    // (a stop pressed during the last object's wait); 5 once image.0 is
    // written; 6 just before the new package replaces the old one.
    for (int stopAt : {4, 5, 6}) {
        TScriptedMonitor monitor;
        monitor.stopAt = stopAt;
        rig_.log.lines.clear();
        EXPECT_EQ(Run(monitor), designer::TBuildOutcome::Stopped) << stopAt;
        EXPECT_EQ(monitor.asked, stopAt);
        EXPECT_EQ(PackageBytes(), "the previous package") << stopAt;
        EXPECT_EQ(Leftovers(), 0u) << stopAt;
        EXPECT_TRUE(handedOver_.empty()) << stopAt;
        EXPECT_TRUE(rig_.clipboard.texts.empty()) << stopAt;
        ASSERT_EQ(rig_.log.lines.size(), 4u) << "three objects and the stop";
        EXPECT_EQ(rig_.log.lines.back(), text::Utf8ToCp1251("Формирование пакета остановлено пользователем"));
    }
}

TEST_F(PackageBuildRun, AFinishedBuildHandsTheKeyOverOnlyOnceThePackageIsInPlace) {
    TScriptedMonitor monitor;
    EXPECT_EQ(Run(monitor), designer::TBuildOutcome::Written);
    EXPECT_EQ(monitor.asked, 6);
    EXPECT_EQ(handedOver_, std::vector<std::string>{"KEY-1"});
    EXPECT_TRUE(keyAfterPackage_);
    EXPECT_EQ(PackageBytes().substr(0, 4), std::string("PK\x03\x04"));
    EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(PackageBuildRun, AFailedCaptureIsNotAStopAndWritesNothing) {
    rig_.designer.dropFormats = {"1C:MD8 Info"};
    TScriptedMonitor monitor;
    EXPECT_EQ(Run(monitor), designer::TBuildOutcome::CaptureFailed);
    EXPECT_EQ(monitor.calls.size(), 1u);
    EXPECT_EQ(PackageBytes(), "the previous package");
    EXPECT_TRUE(handedOver_.empty());
    EXPECT_EQ(Leftovers(), 0u);
}

// The keyboard state of the Designer's thread, as the script tells it at
// each look; the tree is window 23 in the frame 10.
class TScriptedFocus : public designer::ITreeFocus {
public:
    static constexpr designer::TWindow kTree = 23, kFrame = 10, kSearch = 30, kSearchEdit = 31;
    designer::TWindow Tree() override { return kTree; }
    designer::TWindow TreeTopLevel() override { return kFrame; }
    designer::TGuiThreadState TreeThreadState() override { return script(); }
    std::function<designer::TGuiThreadState()> script;
};

long Copies(const fakes::TFakeDesigner& designer) {
    return static_cast<long>(std::count(designer.events.begin(), designer.events.end(),
                                        fakes::TEvent{fakes::TEvent::KeyPress, designer::kVkInsert}));
}

TEST_F(PackageBuildRun, ACopyKeystrokeWithTheFocusOutsideTheTreeStopsTheBuildAndWritesNothing) {
    // After the first object the user opens the metadata search: its edit
    // has the focus, its window is the active one.
    TScriptedFocus focus;
    focus.script = [this] {
        if (Copies(rig_.designer) == 0) return designer::TGuiThreadState{true, TScriptedFocus::kTree, TScriptedFocus::kFrame};
        return designer::TGuiThreadState{true, TScriptedFocus::kSearchEdit, TScriptedFocus::kSearch};
    };
    designer::TCapturePorts ports = Ports(rig_);
    ports.Focus = &focus;
    TScriptedMonitor monitor;
    const designer::TBuildRequest request{text::PathTo1251(WriteReport("focus.txt")),
                                          {"", "", text::PathTo1251(package_), "KEY-1"}};
    try {
        designer::RunPackageBuild(rig_.package, request, ports, monitor, [this](const std::string& key) {
            handedOver_.push_back(key);
        });
        FAIL() << "the second object was copied from the search window";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()), std::string(designer::kTreeNotFocusedMessage));
    }
    EXPECT_EQ(Copies(rig_.designer), 1) << "no copy keystroke for the second object";
    EXPECT_EQ(rig_.designer.events.back(), (fakes::TEvent{fakes::TEvent::KeyRelease, designer::kVkControl}))
        << "the Ctrl pressed before the look is released";
    EXPECT_EQ(rig_.log.lines.size(), 1u);
    EXPECT_EQ(PackageBytes(), "the previous package");
    EXPECT_TRUE(handedOver_.empty());
    EXPECT_EQ(Leftovers(), 0u);
}

TEST(TreeFocus, TheTreeMustHaveTheFocusInTheActiveFrameWithNoMenuOpenAndIsGivenAMoment) {
    using designer::TGuiThreadState;
    constexpr designer::TWindow tree = TScriptedFocus::kTree, frame = TScriptedFocus::kFrame;
    const auto outcome = [](TGuiThreadState before, std::uint64_t changesAfterMs, TGuiThreadState after,
                            std::uint64_t* waited = nullptr) -> std::string {
        fakes::TFakeClock clock;
        const std::uint64_t start = clock.now;
        TScriptedFocus focus;
        focus.script = [&] { return clock.now - start >= changesAfterMs ? after : before; };
        std::string message = "focused";
        try {
            designer::EnsureTreeHasFocus(focus, clock);
        } catch (const text::TError& e) {
            message = e.what();
        }
        if (waited) *waited = clock.now - start;
        return message;
    };
    const TGuiThreadState onTree{true, tree, frame, false};
    const std::string notFocused(designer::kTreeNotFocusedMessage), menu(designer::kDesignerMenuOpenMessage);
    std::uint64_t waited = 0;
    EXPECT_EQ(outcome(onTree, 0, onTree, &waited), "focused");
    EXPECT_EQ(waited, 0u) << "no wait when the tree has the focus";
    // Just brought to the front: the focus reaches the tree 30 ms later.
    EXPECT_EQ(outcome({true, frame, frame, false}, 30, onTree, &waited), "focused");
    EXPECT_EQ(waited, 30u);
    EXPECT_EQ(outcome({true, 41, frame, false}, 5000, onTree, &waited), notFocused) << "another list of the frame";
    EXPECT_GE(waited, designer::kTreeFocusPatienceMs);
    EXPECT_LT(waited, designer::kTreeFocusPatienceMs + 50);
    EXPECT_EQ(outcome({true, tree, 50, false}, 5000, onTree), notFocused) << "a dialog of the Designer is active";
    EXPECT_EQ(outcome({true, tree, frame, true}, 5000, onTree), menu) << "a menu is open";
    EXPECT_EQ(outcome({false, tree, frame, false}, 5000, onTree), notFocused) << "the system did not say";
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
        void Progress(int number, int total) override {
            seen_.push_back(static_cast<std::size_t>(
                std::count_if(screen_.shown.begin(), screen_.shown.end(), [](const std::string& s) { return s[0] == '+'; })));
            display_.SetProgress(number, total);
        }
        bool StopRequested() override { return false; }

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
