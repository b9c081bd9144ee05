// Scenarios that hold the Designer simulator to the Designer's behaviour:
// windows and captions, the capture keystrokes, the tree's answers to typed
// paths and the clipboard formats of a copy.
#include <windows.h>

#include <string>
#include <vector>

#include "SimPayload.h"
#include "Scenarios.h"
#include "SimSession.h"

namespace {

const wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";
const wchar_t kSearchCaption[] = L"Поиск объектов метаданных";
const DWORD kTimeout = 5000;

using TLines = std::vector<std::wstring>;

bool StartOrFail(TScenarioContext& c, TSimSession& sim) {
    return c.Check.Check(sim.Started(), L"simulator starts", sim.Error());
}

// The log lines from mark on, once the line `last` has been written.
TLines LinesUntil(TSimSession& sim, size_t mark, const std::wstring& last) {
    sim.Log().WaitFor(last, mark, kTimeout);
    TLines lines = sim.Log().From(mark);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == last) return TLines(lines.begin(), lines.begin() + i + 1);
    return lines;
}

std::wstring Join(const TLines& lines) {
    std::wstring out;
    for (const auto& l : lines) out += (out.empty() ? L"" : L" | ") + l;
    return out;
}

void ExpectLines(TScenarioContext& c, TSimSession& sim, size_t mark, const TLines& expected, const std::wstring& what) {
    TLines got = LinesUntil(sim, mark, expected.back());
    c.Check.Check(got == expected, what, L"\n  got:  " + Join(got) + L"\n  want: " + Join(expected));
}

HWND SearchWindow(DWORD pid) { return wnd::WaitTopLevel(kLocalFrameClass, std::wstring(kSearchCaption), pid, 0); }

// The keys of the second try: Ctrl+F10, Right, Right, Enter.
void SendMenuSearchKeys() {
    keys::Chord({VK_CONTROL, VK_F10});
    keys::Press(VK_RIGHT);
    keys::Press(VK_RIGHT);
    keys::Press(VK_RETURN);
}

void CaptionAndHelp(TScenarioContext& c) {
    const std::wstring caption = L"Конфигуратор - Торговля и склад (проверка)";
    TSimSession sim(c.SimExe, L"caption", {L"--caption", caption});
    if (!StartOrFail(c, sim)) return;
    HWND frame = sim.Frame();
    c.Check.Equal(wnd::Text(frame), caption, L"frame caption comes from --caption");
    c.Check.Equal(sim.Log().Lines().front(), L"start caption=" + caption + L" acp=1251",
                  L"simulator runs with code page 1251");

    POINT onCaption = wnd::CaptionPoint(frame);
    RECT rc;
    GetWindowRect(frame, &rc);
    c.Check.Note(L"frame at " + std::to_wstring(rc.left) + L"," + std::to_wstring(rc.top) + L" caption point " +
                 std::to_wstring(onCaption.x) + L"," + std::to_wstring(onCaption.y));
    c.Check.Check(mouse::MoveTo(onCaption), L"SetCursorPos over the caption");
    POINT cursor{};
    GetCursorPos(&cursor);
    HWND under = WindowFromPoint(cursor);
    c.Check.Check(under == frame, L"WindowFromPoint over the caption gives the frame",
                  L"got class " + wnd::ClassName(under));
    c.Check.Equal(wnd::ClassName(under), L"V8TopLevelFrame", L"class under the caption");
    c.Check.Equal(wnd::HitTest(under, cursor), HTCAPTION, L"WM_NCHITTEST over the caption");

    POINT inClient = wnd::ClientCentre(frame);
    mouse::MoveTo(inClient);
    HWND client = WindowFromPoint(inClient);
    c.Check.Check(client != frame && wnd::ClassName(client) != L"V8TopLevelFrame", L"client area is not the frame",
                  wnd::ClassName(client));
    c.Check.Check(wnd::HitTest(frame, inClient) != HTCAPTION, L"WM_NCHITTEST over the client area is not HTCAPTION");

    // F1 shows a modal help box: the driver finds it, reads it and presses OK.
    wnd::BringToFront(frame);
    size_t mark = sim.Log().Count();
    keys::Press(VK_F1);
    HWND box = msgbox::WaitFor(sim.Pid(), kTimeout);
    if (c.Check.Check(box != nullptr, L"help message box appears")) {
        c.Check.Check(msgbox::Text(box).find(L"Ctrl+Shift+C") != std::wstring::npos, L"message box text is read",
                      msgbox::Text(box));
        c.Check.Check(msgbox::PressOk(box), L"OK button found");
        c.Check.Check(sim.Log().WaitFor(L"help closed", mark, kTimeout), L"OK closes the message box");
        c.Check.Check(wait::Until([&] { return msgbox::Find(sim.Pid()).empty(); }, kTimeout), L"message box is gone");
    }
    c.Check.Equal(static_cast<long long>(sim.Close().value_or(999)), 0, L"simulator exits with 0 on WM_CLOSE");
}
const TScenarioEntry kCaptionAndHelpEntry(TArea::Simulator, "sim_caption", CaptionAndHelp);

void CaptureKeys(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"capture_keys");
    if (!StartOrFail(c, sim)) return;
    HWND frame = sim.Frame();

    // After the capture: Alt+J, C, Esc, without bringing the frame forward.
    size_t mark = sim.Log().Count();
    keys::Chord({VK_MENU, 'J'});
    keys::Press('C');
    keys::Press(VK_ESCAPE);
    ExpectLines(c, sim, mark,
                {L"key down MENU", L"key down J", L"ignore Alt+J", L"key up J", L"key up MENU", L"key down C",
                 L"ignore C", L"key up C", L"key down ESCAPE", L"ignore Esc", L"key up ESCAPE"},
                L"Alt+J, C, Esc are taken and ignored");

    mark = sim.Log().Count();
    HWND configuration = sim.OpenConfiguration();
    c.Check.Check(configuration != nullptr, L"Ctrl+Shift+C opens the configuration window, a descendant of the frame");
    ExpectLines(c, sim, mark,
                {L"key down CONTROL", L"key down SHIFT", L"key down C", L"open configuration", L"key up C",
                 L"key up SHIFT", L"key up CONTROL"},
                L"Ctrl+Shift+C key sequence");
    if (!configuration) return;
    c.Check.Check(GetParent(configuration) != frame, L"configuration window is not a direct child of the frame");
    c.Check.Check(wnd::TopLevel(kLocalFrameClass, std::wstring(L"Конфигурация"), sim.Pid()).empty(),
                  L"configuration window is not top-level");
    HWND tree = sim.Tree(configuration);
    c.Check.Equal(wnd::ClassName(tree), L"V8Grid", L"tree found by FindWindowExA class by class");

    // Ctrl+F with the configuration window in front.
    wnd::BringToFront(configuration);
    mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, 'F'});
    HWND search = wnd::WaitTopLevel(kLocalFrameClass, std::wstring(kSearchCaption), 0, kTimeout);
    c.Check.Check(search != nullptr, L"Ctrl+F opens the top-level search window");
    // Control texts across processes: set the search field, read it back.
    // The window may be found before its field is created.
    HWND field = nullptr;
    wait::Until([&] { return search && (field = FindWindowExW(search, nullptr, L"Edit", nullptr)) != nullptr; },
                kTimeout);
    if (c.Check.Check(field != nullptr, L"search field found")) {
        c.Check.Check(wnd::SetText(field, L"Склады"), L"WM_SETTEXT on the search field");
        c.Check.Equal(wnd::Text(field), L"Склады", L"WM_GETTEXT reads the search field back");
    }
    c.Check.Equal(static_cast<long long>(wnd::ProcessOf(search)), sim.Pid(), L"search window belongs to the simulator");
    ExpectLines(c, sim, mark,
                {L"key down CONTROL", L"key down F", L"open search Ctrl+F", L"key up F", L"key up CONTROL"},
                L"Ctrl+F key sequence");

    // The probe: Ctrl+Insert in the search window copies nothing; Esc closes it.
    mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, VK_INSERT});
    keys::Press(VK_ESCAPE);
    ExpectLines(c, sim, mark,
                {L"key down CONTROL", L"key down INSERT", L"ignore Ctrl+Insert", L"key up INSERT", L"key up CONTROL",
                 L"key down ESCAPE", L"close search", L"key up ESCAPE"},
                L"Ctrl+Insert ignored, Esc closes the search window");
    c.Check.Check(wait::Until([&] { return !SearchWindow(sim.Pid()); }, kTimeout), L"search window is gone after Esc");

    // The second way works as well with the default switches.
    wnd::BringToFront(frame);
    mark = sim.Log().Count();
    SendMenuSearchKeys();
    c.Check.Check(sim.Log().WaitFor(L"open search menu", mark, kTimeout) && SearchWindow(sim.Pid()),
                  L"Ctrl+F10, Right, Right, Enter opens the search window");
    mark = sim.Log().Count();
    keys::Press(VK_ESCAPE);
    c.Check.Check(sim.Log().WaitFor(L"close search", mark, kTimeout), L"Esc closes it again");
    c.Check.Equal(sim.Selected(tree), L"", L"menu keys did not move the tree");
}
const TScenarioEntry kCaptureKeysEntry(TArea::Simulator, "sim_capture_keys", CaptureKeys);

void SearchSecondTryOnly(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"search_second", {L"--search", L"second"});
    if (!StartOrFail(c, sim)) return;
    HWND configuration = sim.OpenConfiguration();
    if (!c.Check.Check(configuration != nullptr, L"configuration window opens")) return;

    wnd::BringToFront(configuration);
    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, 'F'});
    ExpectLines(c, sim, mark, {L"key down CONTROL", L"key down F", L"ignore Ctrl+F", L"key up F", L"key up CONTROL"},
                L"--search second: Ctrl+F is ignored");
    c.Check.Check(!SearchWindow(sim.Pid()), L"no search window after Ctrl+F");

    wnd::BringToFront(sim.Frame());
    mark = sim.Log().Count();
    SendMenuSearchKeys();
    ExpectLines(
        c, sim, mark,
        {L"key down CONTROL", L"key down F10", L"key up F10", L"key up CONTROL", L"key down RIGHT", L"key up RIGHT",
         L"key down RIGHT", L"key up RIGHT", L"key down RETURN", L"open search menu", L"key up RETURN"},
        L"second-try key sequence opens the search window");
    c.Check.Check(SearchWindow(sim.Pid()) != nullptr, L"search window found by EnumWindows");
    // Esc counts only in the search window: with the tree in front it stays open.
    wnd::BringToFront(sim.Frame());
    mark = sim.Log().Count();
    keys::Press(VK_ESCAPE);
    c.Check.Check(sim.Log().WaitFor(L"ignore Esc", mark, kTimeout) && SearchWindow(sim.Pid()),
                  L"Esc outside the search window leaves it open");
    wnd::BringToFront(SearchWindow(sim.Pid()));
    mark = sim.Log().Count();
    keys::Press(VK_ESCAPE);
    c.Check.Check(sim.Log().WaitFor(L"close search", mark, kTimeout) &&
                      wait::Until([&] { return !SearchWindow(sim.Pid()); }, kTimeout),
                  L"Esc closes the search window");
}
const TScenarioEntry kSearchSecondTryOnlyEntry(TArea::Simulator, "sim_search_second", SearchSecondTryOnly);

void SearchNeverAndNoConfiguration(TScenarioContext& c) {
    {
        TSimSession sim(c.SimExe, L"search_never", {L"--search", L"never"});
        if (!StartOrFail(c, sim)) return;
        HWND configuration = sim.OpenConfiguration();
        c.Check.Check(configuration != nullptr, L"configuration window opens");
        wnd::BringToFront(configuration);
        size_t mark = sim.Log().Count();
        keys::Chord({VK_CONTROL, 'F'});
        wnd::BringToFront(sim.Frame());
        SendMenuSearchKeys();
        c.Check.Check(sim.Log().WaitFor(L"ignore Ctrl+F", mark, kTimeout), L"--search never: Ctrl+F is ignored");
        c.Check.Check(sim.Log().WaitFor(L"ignore menu search", mark, kTimeout),
                      L"--search never: menu search is ignored");
        c.Check.Check(!SearchWindow(sim.Pid()), L"no search window ever");
    }
    {
        TSimSession sim(c.SimExe, L"no_config", {L"--no-config-window"});
        if (!StartOrFail(c, sim)) return;
        wnd::BringToFront(sim.Frame());
        size_t mark = sim.Log().Count();
        keys::Chord({VK_CONTROL, VK_SHIFT, 'C'});
        c.Check.Check(sim.Log().WaitFor(L"ignore Ctrl+Shift+C", mark, kTimeout),
                      L"--no-config-window: Ctrl+Shift+C is ignored");
        c.Check.Check(!wnd::Descendant(sim.Frame(), kLocalFrameClass, std::wstring(L"Конфигурация")),
                      L"no configuration window below the frame");
    }
    // The configuration window outside the frame: present, with its tree,
    // but not among the frame's descendants.
    TSimSession sim(c.SimExe, L"top_level_config", {L"--top-level-config-window"});
    if (!StartOrFail(c, sim)) return;
    wnd::MakeForeground(sim.Frame(), kTimeout);
    size_t opened = sim.Log().Count();
    keys::Chord({VK_CONTROL, VK_SHIFT, 'C'});
    c.Check.Check(sim.Log().WaitFor(L"open configuration", opened, kTimeout),
                  L"--top-level-config-window: Ctrl+Shift+C is taken");
    c.Check.Check(!wnd::Descendant(sim.Frame(), kLocalFrameClass, std::wstring(L"Конфигурация")),
                  L"no configuration window below the frame");
    HWND outside = wnd::WaitTopLevel(kLocalFrameClass, std::wstring(L"Конфигурация"), sim.Pid(), kTimeout);
    c.Check.Check(outside && sim.Tree(outside), L"it is a top-level window with the tree chain");
    wnd::BringToFront(outside);
    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, 'F'});
    c.Check.Check(sim.Log().WaitFor(L"open search Ctrl+F", mark, kTimeout), L"Ctrl+F in it opens the search window");
}
const TScenarioEntry kSearchNeverAndNoConfigurationEntry(TArea::Simulator, "sim_search_never",
                                                         SearchNeverAndNoConfiguration);

// The tree lines the simulator logs for a typed path, computed from the
// path's characters: the Windows-1251 code sent must arrive as this Unicode.
TLines ExpectedTreeChars(const std::wstring& path) {
    TLines out;
    for (wchar_t ch : path) {
        if (ch == L'.') continue;
        wchar_t code[32];
        swprintf(code, 32, L"tree char U+%04X %lc", static_cast<unsigned>(ch), ch);
        out.push_back(code);
    }
    return out;
}

// The lines the tree wrote; key lines of earlier keystrokes may still arrive
// in between.
TLines TreeLines(const TLines& lines) {
    TLines out;
    for (const auto& l : lines)
        if (l.compare(0, 5, L"tree ") == 0) out.push_back(l);
    return out;
}

TLines CharLinesWithoutResult(const TLines& lines) {
    TLines out;
    for (const auto& l : lines)
        if (l.compare(0, 10, L"tree char ") == 0) out.push_back(l.substr(0, l.find(L" -> ")));
    return out;
}

void TreePaths(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"tree");
    HWND tree = OpenTree(c, sim);
    if (!tree) return;

    struct TCase {
        std::wstring typed, selected, what;
    };
    const TCase cases[] = {
        {L"Справочники.Склады", L"Справочники.Склады", L"directory"},
        {L"Справочники.Склады.Реквизит.Адрес", L"Справочники.Склады.Реквизит.Адрес", L"directory attribute"},
        {L"Общие.Общие модули.Сервис", L"Общие.Общие модули.Сервис", L"common module, blank sent as WM_CHAR 32"},
        {L"Общие.Подсистемы.Склад", L"Общие.Подсистемы.Склад", L"subsystem"},
        {L"Обработки.Загрузка.Форма.Основная", L"Обработки.Загрузка.Форма.Основная", L"data processor form"},
        {L"Общие.Общие модули.СервисК", L"Общие.Общие модули.СервисКлиент", L"prefix picks the longer name"},
        {L"справочники.СКЛАДЫ", L"Справочники.Склады", L"case-insensitive match"},
        {L"Справочники.Склады.Реквизит.Адрес.", L"Справочники.Склады.Реквизит.Адрес", L"VK_RIGHT on a leaf stays"},
        {L"Справочники.Щ", L"Справочники.Номенклатура", L"no match keeps the first child"},
        {L"Справочники.Склад", L"Справочники.Склад", L"a name that begins its next sibling's name"},
        {L"Обработки.ЗагрузкаДанных", L"Обработки.ЗагрузкаДанных", L"the longer name after its prefix"},
        {L"Общие.Общие", L"Общие.Общие формы", L"a name cut at its blank selects the earlier sibling"},
        {L"", L"Общие", L"ten VK_LEFT and one VK_RIGHT reach the first level"},
    };
    for (const auto& tc : cases) {
        size_t mark = sim.Log().Count();
        sim.TypePath(tree, tc.typed);
        c.Check.Equal(sim.Selected(tree), tc.selected, L"tree selects " + tc.selected + L" (" + tc.what + L")");
        TLines logged = TreeLines(sim.Log().From(mark));
        c.Check.Equal(static_cast<long long>(logged.size()), 11 + static_cast<long long>(tc.typed.size()),
                      L"one log line per message for \"" + tc.typed + L"\"");
        c.Check.Check(CharLinesWithoutResult(logged) == ExpectedTreeChars(tc.typed),
                      L"WM_CHAR 1251 codes arrive as the right Unicode characters for \"" + tc.typed + L"\"");
    }

    // A control character is logged and ends the typed prefix: the rest of
    // the name no longer matches.
    sim.TypePath(tree, L"");
    size_t controlMark = sim.Log().Count();
    for (unsigned char ch : text::ToCodePage(L"Спр\rав", 1251)) SendMessageA(tree, WM_CHAR, ch, 0);
    TLines controlLines = TreeLines(sim.Log().From(controlMark));
    const TLines expectedControl = {L"tree char U+0421 С -> Справочники",
                                    L"tree char U+043F п -> Справочники",
                                    L"tree char U+0440 р -> Справочники",
                                    L"tree char U+000D (control) -> Справочники",
                                    L"tree char U+0430 а -> Справочники (no match)",
                                    L"tree char U+0432 в -> Справочники (no match)"};
    c.Check.Check(controlLines == expectedControl, L"a control character is logged and breaks the prefix",
                  L"\n  got:  " + Join(controlLines) + L"\n  want: " + Join(expectedControl));

    // The blank sent as a VK_SPACE key-down is no character: "Общие" alone
    // selects the first name it begins.
    sim.TypePath(tree, L"Общие.");
    for (unsigned char ch : text::ToCodePage(L"Общие", 1251)) SendMessageA(tree, WM_CHAR, ch, 0);
    SendMessageA(tree, WM_KEYDOWN, VK_SPACE, 0);
    for (unsigned char ch : text::ToCodePage(L"модули", 1251)) SendMessageA(tree, WM_CHAR, ch, 0);
    c.Check.Equal(sim.Selected(tree), L"Общие.Общие формы", L"the blank as VK_SPACE does not reach Общие модули");
    // Any key-down ends the typed text: the next character starts afresh.
    sim.TypePath(tree, L"Справочники.Ск");
    SendMessageA(tree, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageA(tree, WM_CHAR, static_cast<unsigned char>(text::ToCodePage(L"Н", 1251)[0]), 0);
    c.Check.Equal(sim.Selected(tree), L"Справочники.Номенклатура",
                  L"a key-down between characters starts a new search");

    // Mouse clicks on rows: a real click (cursor and button) and a posted one.
    // The rows are 18 pixels high from y = 2; with Справочники.Склады
    // selected they are: the root, Общие, Справочники, Номенклатура, Склад,
    // Склады.
    sim.TypePath(tree, L"Справочники.Склады");
    auto rowPoint = [](int row) { return POINT{40, 2 + row * 18 + 9}; };
    POINT screenPt = rowPoint(3);
    ClientToScreen(tree, &screenPt);
    size_t clickMark = sim.Log().Count();
    mouse::ClickAt(screenPt);
    c.Check.Check(sim.Log().WaitFor(L"tree click -> Справочники.Номенклатура", clickMark, kTimeout),
                  L"a mouse click on a row selects it");
    clickMark = sim.Log().Count();
    ctl::ClickControl(tree, rowPoint(1));
    c.Check.Check(sim.Log().WaitFor(L"tree click -> Общие", clickMark, kTimeout),
                  L"a posted click on a row selects it");
    c.Check.Equal(sim.Selected(tree), L"Общие", L"selection after the clicks");
    sim.TypePath(tree, L"");

    // The exact messages for one path, with the selection after each; the
    // tree stands on "Общие" from the last case.
    size_t mark = sim.Log().Count();
    sim.TypePath(tree, L"Обработки.Загрузка");
    TLines expected(10, L"tree keydown LEFT -> ");
    expected.push_back(L"tree keydown RIGHT -> Общие");
    auto charLine = [](wchar_t ch, const std::wstring& selected) {
        wchar_t code[32];
        swprintf(code, 32, L"tree char U+%04X %lc -> ", static_cast<unsigned>(ch), ch);
        return code + selected;
    };
    const std::wstring kind = L"Обработки";
    for (size_t i = 0; i < kind.size(); ++i) expected.push_back(charLine(kind[i], i < 2 ? L"Общие" : L"Обработки"));
    expected.push_back(L"tree keydown RIGHT -> Обработки.Выгрузка");
    for (wchar_t ch : std::wstring(L"Загрузка")) expected.push_back(charLine(ch, L"Обработки.Загрузка"));
    TLines got = TreeLines(sim.Log().From(mark));
    c.Check.Check(got == expected, L"exact tree messages for Обработки.Загрузка",
                  L"\n  got:  " + Join(got) + L"\n  want: " + Join(expected));
}
const TScenarioEntry kTreePathsEntry(TArea::Simulator, "sim_tree", TreePaths);

// Selects path in the tree, presses Ctrl+Insert with the tree focused and
// waits for the simulator to render; returns the render line.
std::wstring CopyNode(TSimSession& sim, HWND tree, const std::wstring& path, size_t* copyMark = nullptr) {
    sim.TypePath(tree, path);
    wnd::BringToFront(sim.Frame());
    clip::Empty();
    size_t mark = sim.Log().Count();
    if (copyMark) *copyMark = mark;
    keys::Chord({VK_CONTROL, VK_INSERT});
    return sim.Log().WaitForPrefix(L"render ", mark, kTimeout);
}

// Reads every format the node should have and compares it with the payload.
void CheckClipboard(TScenarioContext& c, const std::wstring& path, const std::string& dropped = {}) {
    const std::string path1251 = text::ToCodePage(path, 1251);
    for (const std::string& format : SimCopiedFormats(path1251)) {
        std::wstring wformat = text::FromUtf8(format);
        auto data = clip::Read(clip::FormatId(format));
        if (format == dropped) {
            c.Check.Check(!data, L"dropped format " + wformat + L" is absent for " + path);
            continue;
        }
        if (!c.Check.Check(data.has_value(), wformat + L" present for " + path)) continue;
        c.Check.EqualBytes(*data, SimPayload(path1251, format), wformat + L" bytes for " + path);
    }
}

void CopyFormats(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"copy");
    HWND tree = OpenTree(c, sim);
    if (!tree) return;

    struct TCase {
        std::wstring path;
        bool sixth;
        std::wstring text;  // both text formats: the node's name, then its path
    };
    const TCase cases[] = {
        {L"Справочники.Склады", true, L"Склады (Справочники.Склады)"},
        {L"Справочники.Склады.Реквизит.Адрес", false, L"Адрес (Справочники.Склады.Реквизит.Адрес)"},
        {L"Общие.Общие модули.Сервис", true, L"Сервис (Общие.Общие модули.Сервис)"},
        {L"Общие.Подсистемы.Склад", false, L"Склад (Общие.Подсистемы.Склад)"},
        {L"Обработки.Загрузка.Форма.Основная", true, L"Основная (Обработки.Загрузка.Форма.Основная)"},
    };
    const UINT managed = clip::FormatId(kSimManagedCommandFormat);
    for (const auto& tc : cases) {
        std::wstring render = CopyNode(sim, tree, tc.path);
        c.Check.Equal(render, L"render " + tc.path + L" formats=" + (tc.sixth ? L"6" : L"5"), L"copy rendered");
        CheckClipboard(c, tc.path);
        c.Check.Check(clip::Has(managed) == tc.sixth,
                      std::wstring(tc.sixth ? L"sixth format present" : L"no sixth format") + L" for " + tc.path);
        // Independent of the payload function: the Unicode text names the node.
        auto unicode = clip::Read(CF_UNICODETEXT).value_or("");
        std::wstring asText(reinterpret_cast<const wchar_t*>(unicode.data()), unicode.size() / 2);
        c.Check.Equal(asText.c_str(), tc.text, L"CF_UNICODETEXT reads as text");
        auto ansi = clip::Read(CF_TEXT).value_or("");
        c.Check.Equal(text::FromCodePage(ansi.c_str(), 1251), tc.text, L"CF_TEXT reads as Windows-1251 text");
    }
}
const TScenarioEntry kCopyFormatsEntry(TArea::Simulator, "sim_copy", CopyFormats);

void DropAndLatency(TScenarioContext& c) {
    const std::wstring node = L"Справочники.Склады";
    TSimSession sim(c.SimExe, L"drop_latency",
                    {L"--latency", L"800", L"--drop-format", L"1C:MD8 External Data", L"--drop-node", node});
    HWND tree = OpenTree(c, sim);
    if (!tree) return;

    // Leave something on the clipboard: the copy must clear it at once and
    // fill it only when the latency has passed.
    sim.TypePath(tree, node);
    wnd::BringToFront(sim.Frame());
    c.Check.Check(clip::PutText(L"прежнее содержимое"), L"driver puts a text on the clipboard");
    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, VK_INSERT});
    c.Check.Check(sim.Log().WaitFor(L"copy " + node, mark, kTimeout), L"copy keystroke taken");
    bool dataBefore = clip::Has(clip::FormatId("1C:MD8 Data")) || clip::Has(CF_UNICODETEXT) || clip::Has(CF_TEXT);
    bool renderedBefore = !sim.Log().WaitForPrefix(L"render ", mark, 0).empty();
    if (renderedBefore)
        c.Check.Note(L"the render came before the clipboard was looked at; the empty-clipboard check is skipped");
    else c.Check.Check(!dataBefore, L"clipboard is empty between the keystroke and the render");
    std::wstring render = sim.Log().WaitForPrefix(L"render ", mark, kTimeout);
    c.Check.Equal(render, L"render " + node + L" formats=5", L"render after the latency drops one format");
    CheckClipboard(c, node, "1C:MD8 External Data");

    render = CopyNode(sim, tree, L"Справочники.Номенклатура");
    c.Check.Equal(render, L"render Справочники.Номенклатура formats=6", L"other nodes keep every format");
    CheckClipboard(c, L"Справочники.Номенклатура");
}
const TScenarioEntry kDropAndLatencyEntry(TArea::Simulator, "sim_drop_latency", DropAndLatency);

// A short tour for people: a node selected and copied, the search window
// opened beside the tree, a screenshot, the search window closed.
void Demo(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"demo", {L"--caption", L"Конфигуратор - Демонстрационная конфигурация"});
    if (!StartOrFail(c, sim)) return;
    HWND configuration = sim.OpenConfiguration();
    HWND tree = configuration ? sim.Tree(configuration) : nullptr;
    if (!c.Check.Check(tree != nullptr, L"tree found")) return;
    const std::wstring path = L"Справочники.Склады.Реквизит.Адрес";
    c.Check.Equal(CopyNode(sim, tree, path), L"render " + path + L" formats=5", L"copy of " + path);
    CheckClipboard(c, path);
    wnd::BringToFront(configuration);
    size_t mark = sim.Log().Count();
    keys::Chord({VK_CONTROL, 'F'});
    c.Check.Check(sim.Log().WaitFor(L"open search Ctrl+F", mark, kTimeout), L"search window open");
    HWND search = wnd::WaitTopLevel(kLocalFrameClass, std::wstring(kSearchCaption), sim.Pid(), kTimeout);
    wnd::SetText(FindWindowExW(search, nullptr, L"Edit", nullptr), L"Адрес");
    // A round trip through the simulator's queue: it has painted by then.
    DWORD_PTR ignored;
    SendMessageTimeoutW(search, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &ignored);
    if (screen::Request(L"", 15000)) c.Check.Note(L"screenshot taken");
    else c.Check.Note(L"no screenshot: not run by scripts/winrun.sh");
    keys::Press(VK_ESCAPE);
    c.Check.Check(sim.Log().WaitFor(L"close search", mark, kTimeout), L"Esc closes the search window");
}
const TScenarioEntry kDemoEntry(TArea::Simulator, "demo", Demo);

}  // namespace

HWND OpenTree(TScenarioContext& c, TSimSession& sim) {
    if (!StartOrFail(c, sim)) return nullptr;
    HWND configuration = sim.OpenConfiguration();
    HWND tree = configuration ? sim.Tree(configuration) : nullptr;
    c.Check.Check(tree != nullptr, L"tree found");
    return tree;
}
