// Scenarios where the simulator offers a window capture the wrong turns a
// real Designer offers: windows that look like the real ones, reactions that
// take time, and chords that count only with exactly their modifiers. The
// sim_ ones prove the simulator sets those traps; the capture_ ones run a
// capture (the driver's reference client by default) into them.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Scenarios.h"
#include "SimSession.h"

namespace {

const wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";
const wchar_t kConfigurationCaption[] = L"Конфигурация";
const wchar_t kSearchCaption[] = L"Поиск объектов метаданных";
const DWORD kTimeout = 5000;

using TLines = std::vector<std::wstring>;

std::wstring Join(const TLines& lines) {
    std::wstring out;
    for (const auto& l : lines) out += (out.empty() ? L"" : L" | ") + l;
    return out;
}

// The log lines from mark on, up to and including the first line `last`.
void ExpectLines(TScenarioContext& c, TSimSession& sim, size_t mark, const TLines& expected, const std::wstring& what) {
    sim.Log().WaitFor(expected.back(), mark, kTimeout);
    TLines got = sim.Log().From(mark);
    auto end = std::find(got.begin(), got.end(), expected.back());
    if (end != got.end()) got.erase(end + 1, got.end());
    c.Check.Check(got == expected, what, L"\n  got:  " + Join(got) + L"\n  want: " + Join(expected));
}

// A named CALLBACK function, not a lambda: on 32-bit Windows the system calls
// it with the stdcall convention, which a lambda cannot declare.
BOOL CALLBACK CollectDescendant(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> AllDescendants(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectDescendant, reinterpret_cast<LPARAM>(&out));
    return out;
}

long long CountLines(TSimSession& sim, const std::wstring& line) {
    TLines lines = sim.Log().Lines();
    return std::count(lines.begin(), lines.end(), line);
}

HWND FirstChild(HWND h) { return h ? GetWindow(h, GW_CHILD) : nullptr; }

// The windows a careless client would take: every one of them must be a
// decoy that comes before the real window in the order the client looks.
void DecoyPlacement(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"decoys", {L"--decoys"});
    HWND tree = OpenTree(c, sim);
    if (!tree) return;
    HWND frame = sim.Frame();
    HWND configuration = wnd::Descendant(frame, kLocalFrameClass, std::wstring(kConfigurationCaption));

    std::vector<HWND> all = AllDescendants(frame);
    auto firstOf = [&all](auto pred) {
        auto it = std::find_if(all.begin(), all.end(), pred);
        return it == all.end() ? HWND{} : *it;
    };
    HWND byClass = firstOf([](HWND h) { return wnd::ClassName(h) == kLocalFrameClass; });
    c.Check.Equal(wnd::Text(byClass), L"Конфигурация базы данных",
                  L"a class-only search below the frame finds a decoy first");
    HWND byPrefix = firstOf([](HWND h) { return wnd::Text(h).compare(0, 12, kConfigurationCaption) == 0; });
    c.Check.Check(byPrefix && byPrefix != configuration, L"a caption prefix check finds a decoy first");
    HWND anyGrid = firstOf([](HWND h) { return wnd::ClassName(h) == L"V8Grid"; });
    c.Check.Check(anyGrid && anyGrid != tree, L"the first V8Grid anywhere is not the tree");

    // Inside the configuration window: other children ahead of each link.
    HWND first = FirstChild(configuration);
    c.Check.Check(first && wnd::ClassName(first) != L"V8LayouterTabsWindow",
                  L"the configuration window's first child is a decoy", wnd::ClassName(first));
    c.Check.Check(FirstChild(FirstChild(first)) != tree, L"a chain of first children misses the tree");
    HWND pairElement = FindWindowExA(configuration, nullptr, "V8FormElement", nullptr);
    HWND pairGrid = pairElement ? FindWindowExA(pairElement, nullptr, "V8Grid", nullptr) : nullptr;
    c.Check.Check(pairGrid && pairGrid != tree,
                  L"a form element with a grid sits right below the configuration window");
    HWND tabs = FindWindowExA(configuration, nullptr, "V8LayouterTabsWindow", nullptr);
    HWND element = tabs ? FindWindowExA(tabs, nullptr, "V8FormElement", nullptr) : nullptr;
    c.Check.Check(FirstChild(tabs) && wnd::ClassName(FirstChild(tabs)) != L"V8FormElement",
                  L"the tabs window's first child is a decoy");
    c.Check.Check(FirstChild(element) && FirstChild(element) != tree, L"the form element's first child is a decoy");

    // Top level: "Сообщения" comes before the search window in EnumWindows.
    wnd::BringToFront(configuration);
    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, 'F'});
    c.Check.Check(sim.Log().WaitFor(L"open search Ctrl+F", mark, kTimeout), L"the search window opens");
    std::vector<HWND> top = wnd::TopLevel(kLocalFrameClass, std::nullopt, sim.Pid());
    c.Check.Check(top.size() >= 2 && wnd::Text(top[0]) == L"Сообщения",
                  L"a class-only top-level search finds \"Сообщения\" first",
                  top.empty() ? L"none" : wnd::Text(top[0]));
    keys::Press(VK_ESCAPE);
    c.Check.Check(sim.Log().WaitFor(L"close search", mark, kTimeout), L"Esc closes the search window");

    // A decoy says so when it is used; the real tree never does.
    mark = sim.Log().Count();
    SendMessageA(pairGrid, WM_CHAR, 'A', 0);
    SendMessageA(anyGrid, WM_KEYDOWN, VK_LEFT, 0);
    TLines decoy = LinesWithPrefix(sim, L"decoy ");
    c.Check.Check(
        decoy.size() == 2 && decoy[0] == L"decoy V8Grid char 0x41" && decoy[1] == L"decoy V8Grid keydown 0x25",
        L"messages to a decoy grid are logged as decoy", Join(decoy));
    sim.TypePath(tree, L"Справочники.Склады");
    c.Check.Equal(sim.Selected(tree), L"Справочники.Склады", L"the real tree still answers");
    c.Check.Equal(static_cast<long long>(LinesWithPrefix(sim, L"decoy ").size()), 2,
                  L"the real tree logs no decoy line");
}
const TScenarioEntry kDecoyPlacementEntry(TArea::Capture, "sim_decoys", DecoyPlacement);

// Chords count only with exactly their modifiers; a key still down repeats.
void StrictKeys(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"strict_keys");
    HWND tree = OpenTree(c, sim);
    if (!tree) return;
    sim.TypePath(tree, L"Справочники.Склады");
    wnd::BringToFront(sim.Frame());

    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, VK_SHIFT, VK_MENU, VK_INSERT});
    ExpectLines(
        c, sim, mark,
        {L"key down CONTROL", L"key down SHIFT", L"key down MENU", L"key down INSERT", L"stuck SHIFT", L"stuck MENU",
         L"ignore Ctrl+Shift+Alt+Insert", L"key up INSERT", L"key up MENU", L"key up SHIFT", L"key up CONTROL"},
        L"Ctrl+Shift+Alt+Insert copies nothing; the extra modifiers are stuck");

    mark = sim.Log().Count();
    keys::Down(VK_CONTROL);
    keys::Down(VK_INSERT);
    keys::Down(VK_INSERT);
    keys::Up(VK_INSERT);
    keys::Up(VK_CONTROL);
    ExpectLines(
        c, sim, mark,
        {L"key down CONTROL", L"key down INSERT", L"copy Справочники.Склады", L"render Справочники.Склады formats=6",
         L"key down INSERT", L"repeat Ctrl+Insert", L"key up INSERT", L"key up CONTROL"},
        L"Ctrl+Insert pressed twice without a key-up copies once");

    // Shift left down from an earlier chord spoils the next one.
    HWND configuration = wnd::Descendant(sim.Frame(), kLocalFrameClass, std::wstring(kConfigurationCaption));
    wnd::BringToFront(configuration);
    mark = sim.Log().Count();
    keys::Down(VK_SHIFT);
    keys::Chord({VK_CONTROL, 'F'});
    keys::Press(VK_ESCAPE);
    keys::Up(VK_SHIFT);
    ExpectLines(
        c, sim, mark,
        {L"key down SHIFT", L"key down CONTROL", L"key down F", L"stuck SHIFT", L"ignore Ctrl+Shift+F", L"key up F",
         L"key up CONTROL", L"key down ESCAPE", L"stuck SHIFT", L"ignore Shift+Esc", L"key up ESCAPE", L"key up SHIFT"},
        L"a held Shift spoils Ctrl+F and Esc");
    c.Check.Check(!wnd::WaitTopLevel(kLocalFrameClass, std::wstring(kSearchCaption), sim.Pid(), 0),
                  L"no search window opened");

    // Ctrl held through the menu path leaves the menu at the first Right.
    wnd::BringToFront(sim.Frame());
    mark = sim.Log().Count();
    keys::Down(VK_CONTROL);
    keys::Press(VK_F10);
    keys::Press(VK_RIGHT);
    keys::Up(VK_CONTROL);
    ExpectLines(c, sim, mark,
                {L"key down CONTROL", L"key down F10", L"key up F10", L"key down RIGHT", L"stuck CONTROL",
                 L"ignore Ctrl+Right", L"leave menu", L"key up RIGHT", L"key up CONTROL"},
                L"Ctrl held after Ctrl+F10 leaves the menu");
}
const TScenarioEntry kStrictKeysEntry(TArea::Capture, "sim_strict_keys", StrictKeys);

// A capture among decoys takes only the real windows; with no search window
// at all a first capture fails, though a window of the search window's class
// is there all along.
void CaptureAmongDecoys(TScenarioContext& c) {
    {
        TSimSession sim(c.SimExe, L"capture_decoys", {L"--decoys"});
        if (!c.Check.Check(sim.Started(), L"simulator starts", sim.Error())) return;
        client::TDesignerWindows w = CaptureDesigner(c, sim);
        c.Check.Check(w.TreeGrid != nullptr, L"the capture finds a tree among the decoys");
        c.Check.Equal(wnd::Text(w.ConfigurationWindow), kConfigurationCaption,
                      L"the configuration window is the real one");
        if (w.TreeGrid) {
            sim.TypePath(w.TreeGrid, L"Справочники.Склады");
            c.Check.Equal(sim.Selected(w.TreeGrid), L"Справочники.Склады", L"the captured tree is the real tree");
        }
        c.Check.Check(LinesWithPrefix(sim, L"decoy ").empty(), L"no decoy was used",
                      Join(LinesWithPrefix(sim, L"decoy ")));
    }
    TSimSession sim(c.SimExe, L"capture_decoys_never", {L"--decoys", L"--search", L"never"});
    if (!c.Check.Check(sim.Started(), L"simulator starts", sim.Error())) return;
    client::TDesignerWindows w = CaptureDesigner(c, sim);
    c.Check.Check(w.SearchWindow == nullptr, L"with no search window none is found", wnd::Text(w.SearchWindow));
    c.Check.Check(w.TreeGrid == nullptr, L"a first capture without a search window fails");
    c.Check.Equal(CountLines(sim, L"key down F10"), client::kSearchAttempts, L"every attempt sent the second-try keys");
    c.Check.Check(LinesWithPrefix(sim, L"decoy ").empty(), L"no decoy was used");
}
const TScenarioEntry kCaptureAmongDecoysEntry(TArea::Capture, "capture_decoys", CaptureAmongDecoys);

// Slow reactions within the capture's waits still capture; each wait is
// checked by where the simulator's reaction falls.
void CaptureWithDelays(TScenarioContext& c) {
    struct TCase {
        const wchar_t* tag;
        std::vector<std::wstring> switches;
        long long ctrlF, menuKeys;  // Ctrl+F and Ctrl+F10 chords the capture sends
        const wchar_t* what;
        // Log lines that must follow each other: the window opened late,
        // after the key-ups of the chord that asked for it.
        std::vector<std::wstring> late;
    };
    const TCase cases[] = {
        {L"capture_delay_fast",
         {L"--config-delay", L"800", L"--ctrl-f-delay", L"60"},
         1,
         -1,
         L"configuration window after 800 ms and search window 60 ms after Ctrl+F: found at the first Ctrl+F",
         {L"delay configuration 800", L"key up CONTROL", L"open configuration", L"delay search Ctrl+F 60",
          L"key up CONTROL", L"open search Ctrl+F"}},
        {L"capture_delay_menu",
         {L"--config-delay", L"800", L"--search", L"second", L"--menu-delay", L"4000"},
         1,
         1,
         L"search window 4000 ms after the menu keys: found in the first attempt",
         {L"delay search menu 4000", L"key up RETURN", L"open search menu"}},
        {L"capture_delay_ctrl_f",
         {L"--ctrl-f-delay", L"300"},
         1,
         1,
         L"search window 300 ms after Ctrl+F: found only after the second-try keys, in the first attempt",
         {L"delay search Ctrl+F 300", L"key up CONTROL", L"key down F10"}},
    };
    for (const TCase& tc : cases) {
        std::vector<std::wstring> switches = tc.switches;
        switches.push_back(L"--key-times");
        TSimSession sim(c.SimExe, tc.tag, switches);
        if (!c.Check.Check(sim.Started(), L"simulator starts", sim.Error())) return;
        client::TDesignerWindows w = CaptureDesigner(c, sim);
        c.Check.Check(w.TreeGrid != nullptr && w.TreeGrid == client::FindTreeGrid(w.ConfigurationWindow), tc.what);
        TLines keys = LinesWithPrefix(sim, L"key ");
        for (auto& k : keys) k = k.substr(0, k.find(L" t="));
        c.Check.Equal(std::count(keys.begin(), keys.end(), L"key down F"), tc.ctrlF,
                      std::wstring(L"Ctrl+F chords sent (") + tc.tag + L")");
        // Whether 60 ms after Ctrl+F is early enough depends on when the
        // simulator gets the processor, so that case counts no menu paths.
        if (tc.menuKeys >= 0)
            c.Check.Equal(std::count(keys.begin(), keys.end(), L"key down F10"), tc.menuKeys,
                          std::wstring(L"second-try chords sent (") + tc.tag + L")");
        CheckWaits(c, sim, tc.tag);
        c.Check.Check(LinesWithPrefix(sim, L"stuck ").empty() && LinesWithPrefix(sim, L"repeat ").empty(),
                      std::wstring(L"no key held over (") + tc.tag + L")");
        TLines lines = sim.Log().Lines();
        for (auto& l : lines) l = l.substr(0, l.find(L" t="));
        auto at = lines.begin();
        for (const std::wstring& line : tc.late)
            if (at != lines.end()) at = std::find(at, lines.end(), line);
        c.Check.Check(at != lines.end(), std::wstring(L"the simulator's reactions came late (") + tc.tag + L")",
                      Join(tc.late));
    }
}
const TScenarioEntry kCaptureWithDelaysEntry(TArea::Capture, "capture_delays", CaptureWithDelays);

}  // namespace

void CheckWaits(TScenarioContext& c, TSimSession& sim, const std::wstring& tag) {
    const DWORD kTolerance = 5;  // the stamps' rounding and the sleep's granularity
    std::wstring chordKey;       // the step's key: its last non-modifier key-down
    bool chordWithCtrl = false, ctrlDown = false;
    bool escapeWaits = false;  // the Esc of Alt+J, C, Esc; the probe's Esc has no wait after it
    DWORD lastUp = 0;
    int checked = 0;
    std::wstring short_;
    for (const std::wstring& line : LinesWithPrefix(sim, L"key ")) {
        size_t at = line.find(L" t=");
        if (at == std::wstring::npos) continue;
        const DWORD t = static_cast<DWORD>(std::stoul(line.substr(at + 3)));
        const std::wstring key = line.substr(0, at);
        if (key.compare(0, 9, L"key down ") == 0) {
            DWORD wait = 0;
            if (lastUp && !ctrlDown) {
                if (chordKey == L"ESCAPE" && escapeWaits) wait = client::kAfterCaptureKeysMs;
                else if (chordKey == L"C" && chordWithCtrl) wait = client::kAfterOpenConfigurationMs;
                else if (chordKey == L"F") wait = client::kAfterCtrlFMs;
                else if (chordKey == L"RETURN") wait = client::kAfterMenuSearchMs;
                else if (chordKey == L"INSERT") wait = client::kAfterProbeCopyMs;
            }
            if (wait) {
                ++checked;
                if (t - lastUp + kTolerance < wait)
                    short_ +=
                        chordKey + L": " + std::to_wstring(t - lastUp) + L" ms < " + std::to_wstring(wait) + L"; ";
            }
            const std::wstring name = key.substr(9);
            if (name == L"CONTROL") ctrlDown = true;
            else if (name != L"SHIFT" && name != L"MENU") {
                if (name == L"ESCAPE") escapeWaits = chordKey == L"C" && !chordWithCtrl;
                chordKey = name;
                chordWithCtrl = ctrlDown;
            }
            lastUp = 0;
        } else {
            if (key == L"key up CONTROL") ctrlDown = false;
            lastUp = t;
        }
    }
    c.Check.Check(checked >= 4 && short_.empty(), L"every wait of the capture was kept (" + tag + L")",
                  std::to_wstring(checked) + L" waits checked; " + short_);
}

client::TDesignerWindows CaptureDesigner(TScenarioContext& c, TSimSession& sim) {
    client::TDesignerWindows w;
    w.MainFrame = sim.Frame();
    wnd::MakeForeground(sim.Frame(), kTimeout);
    c.CaptureWindows(w);
    // A capture that found the search window ends with Esc; let the
    // simulator take it before anyone reads the log.
    if (w.SearchWindow)
        wait::Until(
            [&] {
                TLines keys = LinesWithPrefix(sim, L"key ");
                return !keys.empty() && keys.back().compare(0, 13, L"key up ESCAPE") == 0;
            },
            kTimeout, 20);
    return w;
}

TLines LinesWithPrefix(TSimSession& sim, const std::wstring& prefix) {
    TLines out;
    for (const auto& l : sim.Log().Lines())
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}
