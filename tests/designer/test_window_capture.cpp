#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "designer/DesignerInterface.h"
#include "designer/WindowCapture.h"
#include "text/Codepage.h"
#include "text/Error.h"

using designer::TWindow;

namespace {

std::string W1251(std::string_view utf8) { return text::Utf8ToCp1251(utf8); }

// A desktop with one Designer on it, played as the Designer behaves: the keys
// open and close its windows. Every key, sleep, activation and enumeration is
// written to `trace`, in order.
class TFakeDesktop : public designer::IWindowSystem, public designer::IKeyboard, public platform::IClock {
public:
    enum TSearch { Any, SecondTry, Never };
    static constexpr TWindow Frame = 10, Workspace = 11, Configuration = 20, Tabs = 21, FormElement = 22, Grid = 23,
                             Search = 30, Other = 50;
    static constexpr int DesignerPid = 7, OtherPid = 9;

    TFakeDesktop() {
        Add(Frame, "V8TopLevelFrame", W1251("Конфигуратор - Проба"), 0, DesignerPid);
        Add(Workspace, "V8MDIClient", "", Frame, DesignerPid);
        Add(Other, "Notepad", "Other", 0, OtherPid);
        foreground = Frame;
    }

    // --- IWindowSystem
    TWindow WindowUnderCursor(designer::TScreenPoint& at) override {
        at = cursor;
        return underCursor;
    }
    std::string ClassName(TWindow w) override { return Exists(w) ? windows_[w].Class : ""; }
    std::string Caption(TWindow w) override { return Exists(w) ? windows_[w].Caption : ""; }
    std::uint32_t HitTest(TWindow w, designer::TScreenPoint at) override {
        hitTestedAt.push_back({at.X, at.Y});
        hitTested.push_back(w);
        // A Designer whose caption lies where its own coordinates put it.
        if (captionOnly && !(at.Y >= 20 && at.Y < 40 && at.X >= 20 && at.X < 780)) return 1;
        return w == underCursor ? hit : 0;
    }
    // A DPI-unaware Designer at 150 %: its coordinates are two thirds of the
    // physical ones.
    designer::TScreenPoint ToWindowPoint(TWindow, designer::TScreenPoint p) override {
        return scaled ? designer::TScreenPoint{p.X * 2 / 3, p.Y * 2 / 3} : p;
    }
    void EnumChildWindows(TWindow parent, const std::function<bool(TWindow)>& visit) override {
        trace.push_back("enum children " + std::to_string(parent));
        for (TWindow w : order_)
            if (Exists(w) && IsBelow(w, parent) && !visit(w)) return;
    }
    void EnumWindows(const std::function<bool(TWindow)>& visit) override {
        trace.push_back("enum top");
        for (TWindow w : order_)
            if (Exists(w) && windows_[w].Parent == 0 && !visit(w)) return;
    }
    bool IsDescendant(TWindow parent, TWindow w) override { return Exists(w) && IsBelow(w, parent); }
    TWindow FindChild(TWindow parent, std::string_view cls) override {
        for (TWindow w : order_)
            if (Exists(w) && windows_[w].Parent == parent && windows_[w].Class == cls) return w;
        return 0;
    }
    bool SetForeground(TWindow w) override {
        trace.push_back("front " + std::to_string(w));
        if (!Exists(w) || refuseForeground) return false;
        foreground = w;
        return true;
    }
    bool ForegroundIsProcessOf(TWindow w) override {
        if (foregroundStolenUntilMs > now) return false;
        return Exists(foreground) && Exists(w) && windows_[foreground].Pid == windows_[w].Pid;
    }
    designer::TProcessIntegrity IntegrityOf(TWindow) override { return {tokenDenied, designerIntegrity}; }
    std::optional<std::uint32_t> OwnIntegrity() override { return ownIntegrity; }
    bool InputDesktopIsOurs() override { return !locked; }

    // --- IKeyboard: the key reaches the process of the foreground window.
    void ActivateLayout(std::string_view) override {}
    void KeyEvent(std::uint8_t vk, bool up) override {
        const bool toDesigner = Exists(foreground) && windows_[foreground].Pid == DesignerPid;
        trace.push_back(std::string(up ? "up " : "down ") + KeyName(vk) + (toDesigner ? "" : " -> other program"));
        if (!toDesigner) return;
        if (up) {
            held_.erase(vk);
            return;
        }
        held_.insert(vk);
        const bool ctrl = held_.count(designer::kVkControl) != 0;
        const bool shift = held_.count(designer::kVkShift) != 0;
        if (vk == 'C' && ctrl && shift && openConfiguration) {
            if (configurationDelayMs == 0) OpenConfiguration();
            else configurationAt = now + configurationDelayMs;
        }
        if (vk == 'F' && ctrl && !shift && foreground == Configuration && search == Any) Open(Search, "V8NewLocalFrameBaseWnd", W1251("Поиск объектов метаданных"));
        // The menu path: Ctrl+F10, Right, Right, Enter with the frame in front.
        menu_ = (vk == designer::kVkF10 && ctrl && foreground == Frame) ? 1
                : (menu_ > 0 && vk == designer::kVkRight) ? menu_ + 1
                : (menu_ == 3 && vk == designer::kVkReturn && search != Never) ? (Open(Search, "V8NewLocalFrameBaseWnd", W1251("Поиск объектов метаданных")), 0)
                : (vk == designer::kVkControl ? menu_ : 0);
        if (vk == designer::kVkEscape) windows_.erase(Search);
    }

    // --- IClock
    void Sleep(std::uint32_t ms) override {
        trace.push_back("sleep " + std::to_string(ms));
        now += ms;
        if (configurationAt != 0 && now >= configurationAt) {
            configurationAt = 0;
            OpenConfiguration();
        }
    }
    std::uint64_t NowMs() override { return now; }

    void Add(TWindow w, std::string cls, std::string caption, TWindow parent, int pid) {
        windows_[w] = {std::move(cls), std::move(caption), parent, pid};
        if (std::find(order_.begin(), order_.end(), w) == order_.end()) order_.push_back(w);
    }
    void Open(TWindow w, std::string cls, std::string caption) { Add(w, std::move(cls), std::move(caption), 0, DesignerPid); }
    void OpenConfiguration() {
        Add(Configuration, "V8NewLocalFrameBaseWnd", W1251("Конфигурация"), configurationTopLevel ? 0 : Workspace, DesignerPid);
        Add(Tabs, "V8LayouterTabsWindow", "", Configuration, DesignerPid);
        Add(FormElement, "V8FormElement", "", Tabs, DesignerPid);
        Add(Grid, "V8Grid", "", FormElement, DesignerPid);
    }
    bool Exists(TWindow w) const { return windows_.count(w) != 0; }
    void Remove(TWindow w) { windows_.erase(w); }

    std::vector<std::string> trace;
    designer::TScreenPoint cursor{400, 30};
    TWindow underCursor = Frame;
    std::uint32_t hit = designer::kHtCaption;
    std::vector<std::pair<int, int>> hitTestedAt;
    std::vector<TWindow> hitTested;
    bool captionOnly = false;  // the hit test answers by the point, not by `hit`
    bool scaled = false;
    bool tokenDenied = false;
    bool locked = false;
    TWindow foreground = 0;
    bool refuseForeground = false;
    std::uint64_t foregroundStolenUntilMs = 0;
    std::optional<std::uint32_t> designerIntegrity = 0x2000, ownIntegrity = 0x2000;
    TSearch search = Any;
    bool openConfiguration = true;
    std::uint64_t configurationDelayMs = 0;  // from Ctrl+Shift+C to the configuration window
    std::uint64_t configurationAt = 0;
    bool configurationTopLevel = false;
    std::uint64_t now = 1000;

private:
    struct TInfo {
        std::string Class, Caption;
        TWindow Parent;
        int Pid;
    };
    static std::string KeyName(std::uint8_t vk) {
        switch (vk) {
        case 13: return "RETURN";
        case 16: return "SHIFT";
        case 17: return "CONTROL";
        case 18: return "MENU";
        case 27: return "ESCAPE";
        case 39: return "RIGHT";
        case 45: return "INSERT";
        case 121: return "F10";
        default: return std::string(1, static_cast<char>(vk));
        }
    }
    bool IsBelow(TWindow w, TWindow ancestor) {
        for (TWindow p = windows_[w].Parent; p != 0; p = Exists(p) ? windows_[p].Parent : 0)
            if (p == ancestor) return true;
        return false;
    }

    std::map<TWindow, TInfo> windows_;
    std::vector<TWindow> order_;
    std::set<std::uint8_t> held_;
    int menu_ = 0;
};

using TTrace = std::vector<std::string>;
const TTrace kAfterHitKeys = {"down MENU", "down J", "up J", "up MENU", "down C", "up C", "down ESCAPE", "up ESCAPE",
                              "sleep 1000"};
const TTrace kOpenConfiguration = {"front 10", "enum children 10", "down CONTROL", "down SHIFT", "down C", "up C",
                                   "up SHIFT", "up CONTROL", "sleep 1000"};
const TTrace kCtrlF = {"front 20", "down CONTROL", "down F", "up F", "up CONTROL", "sleep 100", "enum top"};
const TTrace kMenuSearch = {"front 10", "down CONTROL", "down F10", "up F10", "up CONTROL", "down RIGHT", "up RIGHT",
                            "down RIGHT", "up RIGHT", "down RETURN", "up RETURN", "sleep 5000"};
const TTrace kProbe = {"down CONTROL", "down INSERT", "up INSERT", "up CONTROL", "sleep 100", "down ESCAPE", "up ESCAPE"};

TTrace Join(std::initializer_list<TTrace> parts) {
    TTrace all;
    for (const TTrace& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

designer::TCaptureOutcome Capture(TFakeDesktop& desk, designer::TDesignerWindows& windows) {
    return designer::CaptureDesigner(windows, TFakeDesktop::Frame, {desk, desk, desk});
}

TEST(WindowCapture, HitOnlyOnTheCaptionOfADesignerFrame) {
    TFakeDesktop desk;
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), TFakeDesktop::Frame);
    ASSERT_EQ(desk.hitTestedAt.size(), 1u);
    EXPECT_EQ(desk.hitTestedAt[0], std::make_pair(400, 30)) << "WM_NCHITTEST asks at the pointer's position";

    desk.hit = 1;  // HTCLIENT: the pointer is over the frame's client area
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), 0u);
    desk.hit = designer::kHtCaption;
    for (const char* cls : {"Notepad", "V8TopLevelFrameX", "v8toplevelframe", "V8TopLevelFram"}) {
        desk.Add(TFakeDesktop::Frame, cls, "caption", 0, TFakeDesktop::DesignerPid);
        EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), 0u) << cls;
    }
    desk.underCursor = 0;
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), 0u) << "nothing under the pointer";
}

TEST(WindowCapture, FirstCaptureSendsTheKeysAndWaitsInOrder) {
    TFakeDesktop desk;
    designer::TDesignerWindows windows;
    windows.SearchWindow = 99;  // stale from an earlier capture: cleared
    const auto outcome = Capture(desk, windows);
    EXPECT_TRUE(outcome.Captured);
    EXPECT_EQ(outcome.Caption, W1251("Конфигуратор - Проба"));
    EXPECT_EQ(windows.MainFrame, TFakeDesktop::Frame);
    EXPECT_EQ(windows.ConfigurationWindow, TFakeDesktop::Configuration);
    EXPECT_EQ(windows.SearchWindow, TFakeDesktop::Search);
    EXPECT_EQ(windows.TreeGrid, TFakeDesktop::Grid);
    // The configuration window does not exist before Ctrl+Shift+C, so the
    // first attempt looks for it again; the search window opens at Ctrl+F
    // and the menu path is skipped, but the top-level windows are looked at twice.
    EXPECT_EQ(desk.trace, Join({kAfterHitKeys, kOpenConfiguration, {"enum children 10"}, kCtrlF, {"enum top"}, kProbe}));
    EXPECT_FALSE(desk.Exists(TFakeDesktop::Search)) << "Esc closed the search window";
}

TEST(WindowCapture, SearchWindowOpeningOnlyByTheMenuEndsTheAttemptThatSentIt) {
    TFakeDesktop desk;
    desk.search = TFakeDesktop::SecondTry;
    designer::TDesignerWindows windows;
    EXPECT_TRUE(Capture(desk, windows).Captured);
    EXPECT_EQ(desk.trace,
              Join({kAfterHitKeys, kOpenConfiguration, {"enum children 10"}, kCtrlF, kMenuSearch, {"enum top"}, kProbe}));
}

TEST(WindowCapture, SearchWindowNeverOpeningGivesUpAfterFiveAttemptsAndKeepsTheTree) {
    TFakeDesktop desk;
    desk.search = TFakeDesktop::Never;
    designer::TDesignerWindows windows;
    const std::uint64_t start = desk.now;
    EXPECT_FALSE(Capture(desk, windows).Captured);
    EXPECT_EQ(windows.TreeGrid, 0u);
    EXPECT_EQ(desk.now - start, 27500u) << "1000 + 1000 + 5 x (100 + 5000) of sleeps, no probe";
    EXPECT_EQ(std::count(desk.trace.begin(), desk.trace.end(), "down F10"), 5);
    EXPECT_EQ(std::count(desk.trace.begin(), desk.trace.end(), "down INSERT"), 0) << "no probe without the search window";

    // A later capture whose search window does not open keeps the earlier tree.
    windows.TreeGrid = 1234;
    EXPECT_TRUE(Capture(desk, windows).Captured);
    EXPECT_EQ(windows.TreeGrid, 1234u);
}

TEST(WindowCapture, SecondCaptureKeepsTheConfigurationWindowAndFindsTheTreeAgain) {
    TFakeDesktop desk;
    designer::TDesignerWindows windows;
    ASSERT_TRUE(Capture(desk, windows).Captured);
    desk.trace.clear();
    windows.TreeGrid = 0;
    EXPECT_TRUE(Capture(desk, windows).Captured);
    EXPECT_EQ(windows.TreeGrid, TFakeDesktop::Grid);
    EXPECT_EQ(std::count(desk.trace.begin(), desk.trace.end(), "enum children 10"), 0)
        << "the known configuration window is not looked for";
}

TEST(WindowCapture, AKeptConfigurationWindowThatIsNoLongerThisDesignersIsLookedForAgain) {
    // Closed since the last capture: its handle names no window now, and the
    // Designer has opened a new one.
    {
        TFakeDesktop desk;
        designer::TDesignerWindows windows;
        windows.ConfigurationWindow = 99;
        windows.TreeGrid = 98;
        EXPECT_TRUE(Capture(desk, windows).Captured);
        EXPECT_EQ(windows.ConfigurationWindow, TFakeDesktop::Configuration);
        EXPECT_EQ(windows.TreeGrid, TFakeDesktop::Grid);
    }
    // Another Designer's, captured before this one: a window of the right
    // class and caption, but not below this frame. Its tree goes too, even
    // when this Designer's search window does not open.
    for (const auto search : {TFakeDesktop::Any, TFakeDesktop::Never}) {
        TFakeDesktop desk;
        desk.search = search;
        desk.Add(70, "V8NewLocalFrameBaseWnd", W1251("Конфигурация"), 0, TFakeDesktop::OtherPid);
        designer::TDesignerWindows windows;
        windows.ConfigurationWindow = 70;
        windows.TreeGrid = 73;
        const bool captured = Capture(desk, windows).Captured;
        EXPECT_EQ(captured, search == TFakeDesktop::Any);
        EXPECT_EQ(windows.ConfigurationWindow, TFakeDesktop::Configuration);
        EXPECT_EQ(windows.TreeGrid, search == TFakeDesktop::Any ? TFakeDesktop::Grid : 0u);
    }
    // A window below this frame whose caption is not the configuration's (a
    // reused handle value).
    {
        TFakeDesktop desk;
        desk.Add(71, "V8NewLocalFrameBaseWnd", W1251("Конфигурация базы данных"), TFakeDesktop::Workspace,
                 TFakeDesktop::DesignerPid);
        designer::TDesignerWindows windows;
        windows.ConfigurationWindow = 71;
        EXPECT_TRUE(Capture(desk, windows).Captured);
        EXPECT_EQ(windows.ConfigurationWindow, TFakeDesktop::Configuration);
    }
}

TEST(WindowCapture, ConfigurationWindowOutsideTheFrameOrABrokenChainFailsTheCapture) {
    {
        TFakeDesktop desk;
        desk.configurationTopLevel = true;
        designer::TDesignerWindows windows;
        EXPECT_FALSE(Capture(desk, windows).Captured);
        EXPECT_EQ(windows.ConfigurationWindow, 0u);
    }
    {
        TFakeDesktop desk;
        desk.OpenConfiguration();
        desk.openConfiguration = false;  // it is open already
        desk.Add(TFakeDesktop::FormElement, "V8FormElementX", "", TFakeDesktop::Tabs, TFakeDesktop::DesignerPid);
        EXPECT_EQ(designer::FindTreeGrid(desk, TFakeDesktop::Configuration), 0u);
        designer::TDesignerWindows windows;
        EXPECT_FALSE(Capture(desk, windows).Captured);
    }
}

TEST(WindowCapture, EnumerationCallbacksTakeTheFirstExactMatchAndStop) {
    TFakeDesktop desk;
    desk.Add(40, "V8NewLocalFrameBaseWnd", W1251("Поиск объектов метаданных "), 0, 7);  // trailing blank
    desk.Add(41, "V8NewLocalFrameBaseWnd", W1251("Поиск объектов метаданных"), 0, 7);
    desk.Add(42, "V8NewLocalFrameBaseWnd", W1251("Поиск объектов метаданных"), 0, 7);
    designer::TDesignerWindows windows;
    EXPECT_TRUE(designer::EnumSearchWindowProc(desk, windows, 40));
    EXPECT_EQ(windows.SearchWindow, 0u);
    EXPECT_FALSE(designer::EnumSearchWindowProc(desk, windows, 41));
    EXPECT_EQ(windows.SearchWindow, 41u);
    EXPECT_FALSE(designer::EnumSearchWindowProc(desk, windows, 42)) << "a set field stops the enumeration";
    EXPECT_EQ(windows.SearchWindow, 41u);
    EXPECT_TRUE(designer::EnumConfigurationWindowProc(desk, windows, 41)) << "the caption decides which field";
    EXPECT_EQ(windows.ConfigurationWindow, 0u);
}

TEST(WindowCapture, ADesignerAboveOurIntegrityLevelIsRefusedBeforeAnyKey) {
    EXPECT_TRUE(designer::IntegrityAboveOurs(0x3000, 0x2000));
    EXPECT_FALSE(designer::IntegrityAboveOurs(0x2000, 0x2000));
    EXPECT_FALSE(designer::IntegrityAboveOurs(0x2000, 0x3000));
    EXPECT_FALSE(designer::IntegrityAboveOurs(std::nullopt, 0x2000)) << "unknown levels never block";
    EXPECT_FALSE(designer::IntegrityAboveOurs(0x3000, std::nullopt));

    TFakeDesktop desk;
    desk.designerIntegrity = 0x3000;
    designer::TDesignerWindows windows;
    try {
        Capture(desk, windows);
        FAIL() << "an elevated Designer was captured";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()), std::string(designer::kElevatedDesignerMessage));
    }
    EXPECT_TRUE(desk.trace.empty()) << "nothing was sent";
    EXPECT_EQ(windows.MainFrame, 0u);

    desk.ownIntegrity = 0x3000;  // both elevated: fine
    EXPECT_TRUE(Capture(desk, windows).Captured);
}

TEST(WindowCapture, KeysGoOnlyToTheDesignerInFront) {
    // Another program in front: the Designer is brought forward first.
    {
        TFakeDesktop desk;
        desk.foreground = TFakeDesktop::Other;
        designer::TDesignerWindows windows;
        EXPECT_TRUE(Capture(desk, windows).Captured);
        EXPECT_EQ(TTrace(desk.trace.begin(), desk.trace.begin() + 2), (TTrace{"front 10", "down MENU"}));
        EXPECT_EQ(std::count_if(desk.trace.begin(), desk.trace.end(),
                                [](const std::string& s) { return s.find("other program") != std::string::npos; }),
                  0);
    }
    // It cannot be brought forward: nothing is sent and the capture says why.
    {
        TFakeDesktop desk;
        desk.foreground = TFakeDesktop::Other;
        desk.refuseForeground = true;
        designer::TDesignerWindows windows;
        try {
            Capture(desk, windows);
            FAIL() << "keys were sent to another program";
        } catch (const text::TError& e) {
            EXPECT_EQ(std::string(e.what()), std::string(designer::kNotInFrontMessage));
        }
        for (const std::string& s : desk.trace) EXPECT_EQ(s.rfind("down", 0), std::string::npos) << s;
    }
}

TEST(WindowCapture, ForegroundGuardChecksOncePerSequenceAndWaitsForActivation) {
    TFakeDesktop desk;
    designer::TForegroundKeyboard keyboard(desk, desk, desk, TFakeDesktop::Grid);
    desk.OpenConfiguration();
    desk.foreground = TFakeDesktop::Frame;
    // The user clicks another program in the middle of a chord: the chord is
    // finished (its keys are already held) and the next sequence is refused.
    keyboard.KeyEvent(designer::kVkControl, false);
    desk.foreground = TFakeDesktop::Other;
    desk.refuseForeground = true;
    keyboard.KeyEvent(designer::kVkInsert, false);
    keyboard.KeyEvent(designer::kVkInsert, true);
    keyboard.KeyEvent(designer::kVkControl, true);
    const std::uint64_t before = desk.now;
    EXPECT_THROW(keyboard.KeyEvent(designer::kVkControl, false), text::TError);
    EXPECT_GE(desk.now - before, designer::kForegroundPatienceMs) << "refused only after waiting";
    EXPECT_EQ(desk.trace.back(), "front 23") << "asked again at the last look, and nothing sent";

    // Activation that takes effect 30 ms late is waited for.
    desk.trace.clear();
    desk.refuseForeground = false;
    desk.foregroundStolenUntilMs = desk.now + 30;
    keyboard.KeyEvent(designer::kVkControl, false);
    EXPECT_EQ(desk.trace.back(), "down CONTROL");
    EXPECT_EQ(desk.trace.front(), "front 23") << "the tree is what comes forward in a build";
}

TEST(WindowCapture, FindingAFrameWithoutPointingTakesTheFirstTopLevelFrameWhoseCaptionMatches) {
    TFakeDesktop desk;
    // Before the Designer in the window order: a child frame class inside
    // another program, and an ordinary window whose caption matches.
    desk.Add(60, "V8TopLevelFrame", W1251("Конфигуратор - Вложенный"), TFakeDesktop::Other, TFakeDesktop::OtherPid);
    desk.Add(61, "Notepad", W1251("Конфигуратор - Склад"), 0, TFakeDesktop::OtherPid);
    desk.Add(62, "V8TopLevelFrame", W1251("Конфигуратор - Склад"), 0, TFakeDesktop::OtherPid);
    EXPECT_EQ(designer::FindDesignerFrame(desk, ""), TFakeDesktop::Frame) << "the first frame, any caption";
    EXPECT_EQ(designer::FindDesignerFrame(desk, W1251("Склад")), 62);
    EXPECT_EQ(designer::FindDesignerFrame(desk, W1251("Проба")), TFakeDesktop::Frame);
    EXPECT_EQ(designer::FindDesignerFrame(desk, W1251("Бухгалтерия")), 0);
    EXPECT_EQ(designer::FindDesignerFrame(desk, W1251("Вложенный")), 0) << "only top-level windows";
}

TEST(WindowCapture, OnlyAFrameIsHitTestedAndAtThePointInItsOwnCoordinates) {
    TFakeDesktop desk;
    // A busy window of another program under the pointer is never sent the
    // hit test: it could hold the look for as long as it is busy.
    desk.Add(TFakeDesktop::Other, "Notepad", "Other", 0, TFakeDesktop::OtherPid);
    desk.underCursor = TFakeDesktop::Other;
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), 0u);
    EXPECT_TRUE(desk.hitTested.empty());

    // A DPI-unaware Designer at 150 %: the pointer at physical (600, 45) is
    // (400, 30) on its caption in its own coordinates; (600, 45) itself would
    // lie in its client area.
    desk.underCursor = TFakeDesktop::Frame;
    desk.captionOnly = true;
    desk.scaled = true;
    desk.cursor = {600, 45};
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), TFakeDesktop::Frame);
    EXPECT_EQ(desk.hitTestedAt.back(), std::make_pair(400, 30));
    desk.cursor = {600, 90};  // (400, 60): its client area
    EXPECT_EQ(designer::DesignerFrameUnderCursor(desk), 0u);
}

TEST(WindowCapture, ADesignerOutOfReachIsRefusedAsSoonAsThePointerIsOverItsFrame) {
    const auto refusal = [](const std::function<void()>& look) -> std::string {
        try {
            look();
        } catch (const text::TError& e) {
            return e.what();
        }
        return "";
    };
    // Over the client area: an elevated frame never answers the hit test, so
    // the wait would never end without a word.
    TFakeDesktop desk;
    desk.hit = 1;
    desk.designerIntegrity = 0x3000;
    EXPECT_EQ(refusal([&] { designer::DesignerFrameUnderCursor(desk); }),
              std::string(designer::kElevatedDesignerMessage));
    EXPECT_TRUE(desk.hitTested.empty());
    // Its token cannot be read: another account's Designer, with the same fate.
    desk.designerIntegrity = std::nullopt;
    desk.tokenDenied = true;
    EXPECT_EQ(refusal([&] { designer::DesignerFrameUnderCursor(desk); }),
              std::string(designer::kOtherAccountDesignerMessage));
    designer::TDesignerWindows windows;
    EXPECT_EQ(refusal([&] { Capture(desk, windows); }), std::string(designer::kOtherAccountDesignerMessage));
    EXPECT_TRUE(desk.trace.empty()) << "nothing was sent";
    // Another program's window of another class is none of its business.
    desk.underCursor = TFakeDesktop::Other;
    EXPECT_EQ(refusal([&] { designer::DesignerFrameUnderCursor(desk); }), "");
}

TEST(WindowCapture, AFrameWithoutAConfigurationWindowGetsNoSecondTryKeysButTheSameTime) {
    // A 1C:Enterprise user window has the frame's class and no configuration
    // window: the menu keys would run a command in a live database.
    TFakeDesktop desk;
    desk.openConfiguration = false;
    desk.search = TFakeDesktop::SecondTry;
    designer::TDesignerWindows windows;
    const std::uint64_t start = desk.now;
    EXPECT_FALSE(Capture(desk, windows).Captured);
    TTrace keys;
    for (const std::string& line : desk.trace)
        if (line.rfind("down", 0) == 0 || line.rfind("up", 0) == 0) keys.push_back(line);
    EXPECT_EQ(keys, (TTrace{"down MENU", "down J", "up J", "up MENU", "down C", "up C", "down ESCAPE", "up ESCAPE",
                            "down CONTROL", "down SHIFT", "down C", "up C", "up SHIFT", "up CONTROL"}));
    EXPECT_EQ(desk.now - start, 27500u) << "1000 + 1000 + 5 x (100 + 5000), as when the keys are sent";

    // A slow Designer whose configuration window comes 4 s after Ctrl+Shift+C
    // is waited for, and then gets the keys of the attempt under way.
    TFakeDesktop slow;
    slow.configurationDelayMs = 4000;
    designer::TDesignerWindows found;
    EXPECT_TRUE(Capture(slow, found).Captured);
    EXPECT_EQ(found.TreeGrid, TFakeDesktop::Grid);
    EXPECT_EQ(std::count(slow.trace.begin(), slow.trace.end(), "down F"), 1);
    EXPECT_EQ(std::count(slow.trace.begin(), slow.trace.end(), "down F10"), 0);
    const auto ctrlF = std::find(slow.trace.begin(), slow.trace.end(), "down F");
    EXPECT_EQ(std::count(slow.trace.begin(), ctrlF, "sleep 100"), 30) << "looked for every 100 ms until it came";
}

TEST(WindowCapture, ARefusedForegroundNamesALockedDesktopApart) {
    for (const bool locked : {false, true}) {
        TFakeDesktop desk;
        desk.foreground = TFakeDesktop::Other;
        desk.refuseForeground = true;
        desk.locked = locked;
        designer::TDesignerWindows windows;
        try {
            Capture(desk, windows);
            FAIL() << "keys were sent to another program";
        } catch (const text::TError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string(locked ? designer::kNoInputDesktopMessage : designer::kNotInFrontMessage));
        }
    }
}

TEST(WindowCapture, CapturedWindowsCountOnlyWhileTheyAreStillTheDesignersOfTheCapture) {
    TFakeDesktop desk;
    designer::TDesignerWindows windows;
    ASSERT_TRUE(Capture(desk, windows).Captured);
    const std::string caption = W1251("Конфигуратор - Проба");
    EXPECT_TRUE(designer::CapturedWindowsStillThere(desk, windows, caption));
    EXPECT_FALSE(designer::CapturedWindowsStillThere(desk, windows, W1251("Конфигуратор - Склад")))
        << "another caption: another Designer in the reused frame handle";
    EXPECT_FALSE(designer::CapturedWindowsStillThere(desk, {}, "")) << "nothing captured";

    const auto without = [&](const std::function<void(TFakeDesktop&)>& change) {
        TFakeDesktop changed;
        changed.OpenConfiguration();
        change(changed);
        return designer::CapturedWindowsStillThere(changed, windows, caption);
    };
    EXPECT_TRUE(without([](TFakeDesktop&) {}));
    EXPECT_FALSE(without([](TFakeDesktop& d) { d.Remove(TFakeDesktop::Frame); })) << "the Designer was closed";
    EXPECT_FALSE(without([&](TFakeDesktop& d) { d.Add(TFakeDesktop::Frame, "Notepad", caption, 0, 3); }))
        << "a frame handle reused by another class";
    EXPECT_FALSE(without([](TFakeDesktop& d) { d.Remove(TFakeDesktop::Configuration); }))
        << "the configuration window was closed";
    EXPECT_FALSE(without([](TFakeDesktop& d) {
        d.Add(TFakeDesktop::Grid, "V8Grid", "", TFakeDesktop::Workspace, TFakeDesktop::DesignerPid);
    })) << "a grid that is no longer below the configuration window";
    EXPECT_FALSE(without([](TFakeDesktop& d) {
        d.Add(TFakeDesktop::Grid, "Edit", "", TFakeDesktop::FormElement, TFakeDesktop::DesignerPid);
    })) << "a tree handle reused by another class";
}

}  // namespace
