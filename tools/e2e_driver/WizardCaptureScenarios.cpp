// The wizard's capture by pointing at the simulator's caption: what it
// ignores, Esc, the capture's keys, the tab order of the expanded form, a
// search window that opens late or never; and the wizard's own window
// capture in the shape of the driver's reference client.
#include <windows.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "Scenarios.h"
#include "SimSession.h"
#include "WizardSession.h"
#include "WizardSteps.h"
#include "designer/WindowCapture.h"
#include "designer/win32/Win32Ports.h"

namespace {

// Tab order, the panel's controls in the panel's place.
const int kTabOrder[] = {wiz::MakePackage,
                         wiz::sl,
                         wiz::SerialKey,
                         wiz::GenerateKey,
                         wiz::OpenFile,
                         wiz::PathToDiffFile,
                         wiz::LicensePath,
                         wiz::SelectLicense,
                         wiz::PathToPackageFile,
                         wiz::SelectPackageFile,
                         wiz::PathToDescription,
                         wiz::SelectDescrFile,
                         wiz::res};

void CaptureCases(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"wizard_capture", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard)) return;
    c.Check.Equal(wizard.OuterHeight(), 60, L"collapsed to 60 at start");
    c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено", L"red status text");

    // The client area of a Designer frame is not its caption.
    c.Check.Check(wizard.StartCapture(), L"the form hides while it waits");
    c.Check.Check(!wizard.PointAndWait(wnd::ClientCentre(sim.Frame()), 1500), L"the client area captures nothing");
    // Nor the caption of a window of another class (the simulator's
    // configuration window made top-level).
    {
        TSimSession other(c.SimExe, L"wizard_capture_other",
                          SimArgs(c, {L"--top-level-config-window", L"--caption", L"Другой"}));
        if (other.Started()) other.OpenConfiguration();  // top-level: not found below the frame
        HWND configuration = other.Started() ? wnd::WaitTopLevel(L"V8NewLocalFrameBaseWnd",
                                                                 std::wstring(L"Конфигурация"), other.Pid(), kTimeout)
                                             : nullptr;
        if (c.Check.Check(configuration != nullptr, L"a top-level window of another class")) {
            c.Check.Check(!wizard.PointAndWait(wnd::CaptionPoint(configuration), 1500),
                          L"another class's caption captures nothing");
        }
        other.Close();
    }
    // Nor a frame of the Designer's class whose program hangs: each look at
    // it ends within its bound, so the wait goes on and Esc still ends it.
    TSimSession hung(c.SimExe, L"wizard_capture_hung", SimArgs(c, {L"--hung-frame", L"--caption", L"Другой"}));
    HWND hungFrame = hung.Started() ? wnd::WaitTopLevel(L"V8TopLevelFrame", std::wstring(L"Конфигуратор - не отвечает"),
                                                        hung.Pid(), kTimeout)
                                    : nullptr;
    if (c.Check.Check(hungFrame != nullptr, L"a hung frame of the Designer's class", hung.Error()))
        c.Check.Check(!wizard.PointAndWait(wnd::CaptionPoint(hungFrame), 1500), L"a hung frame captures nothing");
    // Esc ends the wait and brings the form back as it was.
    keys::Press(VK_ESCAPE);
    c.Check.Check(wait::Until([&] { return wizard.Visible(); }, 3000), L"Esc ends the wait");
    c.Check.Equal(wizard.OuterHeight(), 60, L"still collapsed after Esc");
    c.Check.Check(!IsWindowVisible(wizard.Control(wiz::GroupPreparation)), L"panel still hidden after Esc");
    hung.Close();

    const size_t mark = sim.Log().Count();
    if (!Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    c.Check.Equal(wizard.Describe(wizard.Control(wiz::wnd1CStatus), wiz::TextColour), 0x8000, L"status is green");
    // The keys of the capture, as the simulator received them (the last, Esc,
    // is queued input that may still be on its way when the form shows).
    sim.Log().WaitFor(L"close search", mark, kTimeout);
    std::vector<std::wstring> events;
    for (const std::wstring& line : sim.Log().From(mark))
        if (line.rfind(L"key ", 0) != 0 && line.rfind(L"tree ", 0) != 0 && line.rfind(L"delay ", 0) != 0)
            events.push_back(line);  // keys, tree moves and a slow simulator's notes aside
    const std::vector<std::wstring> expected = {L"ignore Alt+J",       L"ignore C",           L"ignore Esc",
                                                L"open configuration", L"open search Ctrl+F", L"ignore Ctrl+Insert",
                                                L"close search"};
    std::wstring got;
    for (const auto& e : events) got += e + L"; ";
    c.Check.Check(events == expected, L"the capture's effects in order", got);

    // Tab order across the expanded form (brought to the front first: the
    // Designer may have come forward with the capture's last key).
    c.Check.Check(ClickInto(wizard, wiz::sl), L"sl has the focus");
    bool inOrder = true;
    std::wstring path = L"sl";
    for (size_t i = 2; i < std::size(kTabOrder) + 2; ++i) {
        keys::Press(VK_TAB);
        HWND want = wizard.Control(kTabOrder[i % std::size(kTabOrder)]);
        if (!wait::Until([&] { return FocusOf(wizard.Form()) == want; }, 2000)) {
            inOrder = false;
            path += L" -> (not " + std::to_wstring(kTabOrder[i % std::size(kTabOrder)]) + L")";
            break;
        }
        path += L" -> " + std::to_wstring(kTabOrder[i % std::size(kTabOrder)]);
    }
    c.Check.Check(inOrder, L"Tab follows the tab order and wraps round", path);

    // A second capture of the same Designer still finds its tree.
    c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame())), L"a second capture comes back");
    c.Check.Equal(wizard.OuterHeight(), 450, L"still expanded");
}
const TScenarioEntry kCaptureCasesEntry(TArea::WizardCapture, "wizard_capture", CaptureCases);

void CaptureSearchWindowLate(TScenarioContext& c) {
    {
        TSimSession sim(c.SimExe, L"wizard_search_second", SimArgs(c, {L"--search", L"second"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard)) return;
        Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация");
        const auto log = sim.Log().Lines();
        c.Check.Equal(std::count(log.begin(), log.end(), L"open search menu"), 1,
                      L"the menu path opened the search window once");
    }
    {
        TSimSession sim(c.SimExe, L"wizard_search_never", SimArgs(c, {L"--search", L"never"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard)) return;
        c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame()), 60000),
                      L"the form comes back after five attempts");
        c.Check.Equal(wizard.OuterHeight(), 60, L"a search window that never opens leaves the form collapsed");
        c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено", L"and the status red");
        const auto log = sim.Log().Lines();
        c.Check.Equal(std::count(log.begin(), log.end(), L"ignore menu search"), 5, L"five attempts by the menu");
    }
    {
        // A 1C:Enterprise user window, pointed at after a Designer was
        // captured: the same frame class, no configuration window. It gets
        // the first keys only, and the form no longer offers the build.
        TSimSession designer(c.SimExe, L"wizard_user_mode_designer", SimArgs(c));
        TSimSession user(c.SimExe, L"wizard_user_mode",
                         SimArgs(c, {L"--user-mode", L"--caption", L"1С:Предприятие - Демонстрационная база"}));
        TWizardSession wizard(c.WizardExe);
        if (!c.Check.Check(designer.Started(), L"the Designer starts", designer.Error()) || !StartBoth(c, user, wizard))
            return;
        // Below the Designer's frame, so that neither caption covers the other.
        SetWindowPos(user.Frame(), HWND_TOP, 260, 600, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        if (!Capture(c, designer, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        wnd::MakeForeground(user.Frame(), kTimeout);
        // Off the Designer's caption, where the last capture left the pointer.
        const POINT userCaption = wnd::CaptionPoint(user.Frame());
        mouse::MoveTo({userCaption.x, userCaption.y + 60});
        const size_t mark = user.Log().Count();
        c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(user.Frame()), 60000),
                      L"the form comes back after the five attempts' time");
        std::wstring keys;
        for (const std::wstring& line : user.Log().From(mark))
            if (line.rfind(L"key down ", 0) == 0) keys += line.substr(9) + L" ";
        c.Check.Equal(keys, L"MENU J C ESCAPE CONTROL SHIFT C ",
                      L"the user window gets Alt+J, C, Esc and Ctrl+Shift+C, no menu keys");
        const auto log = user.Log().Lines();
        c.Check.Equal(std::count(log.begin(), log.end(), L"user mode: menu command run"), 0, L"no menu command ran");
        c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено",
                      L"the failed capture turns the status red");
        c.Check.Equal(wizard.Describe(wizard.Control(wiz::wnd1CStatus), wiz::TextColour), RGB(255, 0, 0), L"in red");
        c.Check.Check(!IsWindowEnabled(wizard.Control(wiz::MakePackage)), L"\"Сформировать\" is disabled");
        if (Capture(c, designer, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            c.Check.Check(IsWindowEnabled(wizard.Control(wiz::MakePackage)) != FALSE,
                          L"a capture that succeeds enables it again");
    }
}
const TScenarioEntry kCaptureSearchWindowLateEntry(TArea::WizardCapture, "wizard_search_late", CaptureSearchWindowLate);

}  // namespace

void WizardWindowCapture(client::TDesignerWindows& windows) {
    designer::TWin32WindowSystem system;
    designer::TWin32Keyboard keyboard;
    designer::TWin32MessageClock clock;
    const auto handle = [](HWND h) { return designer::FromHwnd(h); };
    designer::TDesignerWindows found{handle(windows.MainFrame), handle(windows.ConfigurationWindow),
                                     handle(windows.SearchWindow), handle(windows.TreeGrid)};
    try {
        designer::CaptureDesigner(found, found.MainFrame, {system, keyboard, clock});
    } catch (const std::exception& e) {
        PrintUtf8(L"# the wizard's capture raised: " + text::FromCodePage(e.what(), 1251) + L"\n");
    }
    windows = {designer::ToHwnd(found.MainFrame), designer::ToHwnd(found.ConfigurationWindow),
               designer::ToHwnd(found.SearchWindow), designer::ToHwnd(found.TreeGrid)};
}
