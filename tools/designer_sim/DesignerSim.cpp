// A stand-in for the 1C:Enterprise 8.2 Designer: the windows, shortcuts,
// tree behaviour and clipboard formats that an outside program relies on when
// it drives the Designer, plus a log of everything it received.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "SimPayload.h"
#include "SimTree.h"
#include "text/Codepage.h"

namespace {

const wchar_t kFrameClass[] = L"V8TopLevelFrame";
const wchar_t kWorkspaceClass[] = L"V8MDIClient";
const wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";
const wchar_t kTabsClass[] = L"V8LayouterTabsWindow";
const wchar_t kFormElementClass[] = L"V8FormElement";
const wchar_t kGridClass[] = L"V8Grid";
const wchar_t kConfigurationCaption[] = L"Конфигурация";
const wchar_t kSearchCaption[] = L"Поиск объектов метаданных";
// Windows that a careless client takes for the real ones (--decoys): a local
// frame whose caption begins like the configuration window's, a top-level
// local frame of another caption, and children of other classes.
const wchar_t kDecoyConfigurationCaption[] = L"Конфигурация базы данных";
const wchar_t kMessagesCaption[] = L"Сообщения";
const wchar_t kCommandBarClass[] = L"V8CommandBar";
const wchar_t kTabHeaderClass[] = L"V8TabHeader";
const wchar_t kToolbarClass[] = L"V8Toolbar";

// Timer of the grid: the end of the held-open render. (The delayed render
// runs on a waitable timer: a window timer never fires sooner than 10 ms.)
const UINT_PTR kHoldTimer = 2;
// Timers of the frame: delayed reactions to the capture keys.
const UINT_PTR kConfigurationTimer = 3;
const UINT_PTR kCtrlFTimer = 4;
const UINT_PTR kMenuTimer = 5;
// How many formats the held-open render puts on the clipboard before holding.
const size_t kFormatsBeforeHold = 3;
const int kRowHeight = 18;
const int kTopMargin = 2;

enum class TSearchMode { Any, SecondTry, Never };

struct TSimOptions {
    std::wstring ConfigFile;
    std::wstring LogFile;
    std::wstring Caption = L"Конфигуратор - Демонстрационная конфигурация";
    UINT LatencyMs = 0;
    bool KeepStale = false;  // with a latency: the old contents stay until the render
    std::wstring DropFormat;
    std::wstring DropNode;
    TSearchMode Search = TSearchMode::Any;
    bool ConfigurationWindow = true;
    bool ConfigurationTopLevel = false;  // a top-level window, not below the frame
    bool Decoys = false;
    UINT ConfigurationDelayMs = 0;  // from Ctrl+Shift+C to the configuration window
    UINT CtrlFDelayMs = 0;          // from Ctrl+F to the search window
    UINT MenuDelayMs = 0;           // from the menu's Enter to the search window
    UINT HoldOpenMs = 0;            // the render keeps the clipboard open this long halfway
    bool KeyTimes = false;          // key lines carry the input's time stamp
    bool Stats = false;             // time its own handling; "stats" lines when the frame closes
};

// Modifier sets of the chords, as bits.
enum : int { kCtrl = 1, kShift = 2, kAlt = 4 };

std::wstring Widen(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::u16string Narrow16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
std::string ToUtf8(const std::wstring& s) { return text::Utf16ToUtf8(Narrow16(s)); }

std::wstring ExeDirectory()
{
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring path(buf, n);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    return cls;
}

// Names the virtual keys the log mentions; others are written in hex.
std::wstring KeyName(WPARAM vk)
{
    switch (vk) {
    case VK_CONTROL: return L"CONTROL";
    case VK_SHIFT: return L"SHIFT";
    case VK_MENU: return L"MENU";
    case VK_ESCAPE: return L"ESCAPE";
    case VK_RETURN: return L"RETURN";
    case VK_LEFT: return L"LEFT";
    case VK_RIGHT: return L"RIGHT";
    case VK_UP: return L"UP";
    case VK_DOWN: return L"DOWN";
    case VK_INSERT: return L"INSERT";
    case VK_F1: return L"F1";
    case VK_F4: return L"F4";
    case VK_F10: return L"F10";
    }
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::wstring(1, static_cast<wchar_t>(vk));
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%02X", static_cast<unsigned>(vk));
    return buf;
}

bool IsModifier(WPARAM vk) { return vk == VK_CONTROL || vk == VK_SHIFT || vk == VK_MENU; }
bool IsDown(WPARAM vk) { return GetKeyState(static_cast<int>(vk)) < 0; }

// The modifiers down when the key being handled arrived.
int HeldModifiers()
{
    return (IsDown(VK_CONTROL) ? kCtrl : 0) | (IsDown(VK_SHIFT) ? kShift : 0) | (IsDown(VK_MENU) ? kAlt : 0);
}

int BitCount(int mods) { return (mods & kCtrl ? 1 : 0) + (mods & kShift ? 1 : 0) + (mods & kAlt ? 1 : 0); }

// "Ctrl+Shift+Alt+" for the set, then the key's name.
std::wstring ChordName(int mods, WPARAM vk)
{
    std::wstring out;
    if (mods & kCtrl) out += L"Ctrl+";
    if (mods & kShift) out += L"Shift+";
    if (mods & kAlt) out += L"Alt+";
    switch (vk) {
    case VK_INSERT: return out + L"Insert";
    case VK_ESCAPE: return out + L"Esc";
    case VK_RETURN: return out + L"Enter";
    case VK_RIGHT: return out + L"Right";
    }
    return out + KeyName(vk);
}

// With --stats: how often and for how long the simulator handled each kind
// of event, on the performance counter, so that a benchmark can tell the
// simulator's own work from the cost of the messages that reach it.
class TSimStats {
public:
    TSimStats()
    {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        frequency_ = f.QuadPart;
    }
    bool Enabled = false;
    LONGLONG Now() const
    {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    void Add(const wchar_t* what, LONGLONG ticks)
    {
        TEntry& e = entries_[what];
        ++e.Count;
        e.Ticks += ticks;
    }
    // Adds a count that is not a duration (e.g. milliseconds of input delay).
    void AddValue(const wchar_t* what, long long value)
    {
        TEntry& e = entries_[what];
        ++e.Count;
        e.Ticks += value * frequency_ / 1000;
    }
    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> out;
        for (const auto& [name, e] : entries_) {
            wchar_t line[256];
            const double ms = 1000.0 * static_cast<double>(e.Ticks) / static_cast<double>(frequency_);
            swprintf(line, 256, L"stats %ls n=%lld total=%.1fms each=%.3fms", name.c_str(), e.Count, ms,
                     ms / static_cast<double>(e.Count));
            out.push_back(line);
        }
        return out;
    }

private:
    struct TEntry {
        long long Count = 0;
        LONGLONG Ticks = 0;
    };
    std::map<std::wstring, TEntry> entries_;
    LONGLONG frequency_ = 1;
};

// Times one scope into the statistics when they are enabled.
class TStatsScope {
public:
    TStatsScope(TSimStats& stats, const wchar_t* what) : stats_(stats), what_(what), start_(stats.Enabled ? stats.Now() : 0) {}
    ~TStatsScope()
    {
        if (stats_.Enabled) stats_.Add(what_, stats_.Now() - start_);
    }
    TStatsScope(const TStatsScope&) = delete;
    TStatsScope& operator=(const TStatsScope&) = delete;

private:
    TSimStats& stats_;
    const wchar_t* what_;
    LONGLONG start_;
};

class TSimulator {
public:
    TSimulator(TSimOptions options, TSimTree tree) : options_(std::move(options)), tree_(std::move(tree))
    {
        stats_.Enabled = options_.Stats;
    }
    ~TSimulator()
    {
        if (renderTimer_) CloseHandle(renderTimer_);
        if (log_) fclose(log_);
    }

    bool OpenLog()
    {
        if (options_.LogFile.empty()) return true;
        log_ = _wfopen(options_.LogFile.c_str(), L"wb");
        return log_ != nullptr;
    }

    // One line per event, flushed at once so a test can poll the file.
    void Log(const std::wstring& line)
    {
        if (!log_) return;
        TStatsScope timed(stats_, L"log line written and flushed");
        std::string utf8 = ToUtf8(line) + "\n";
        fwrite(utf8.data(), 1, utf8.size(), log_);
        fflush(log_);
    }

    bool RegisterClasses(HINSTANCE instance);
    bool CreateFrame(HINSTANCE instance, int show);
    int Run();

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT WorkspaceProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT LocalFrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT FillerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT GridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DecoyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    bool HandleKey(const MSG& msg);
    bool HandleKeyDown(WPARAM vk, LPARAM lp);
    void ShowHelp();
    void RequestConfiguration();
    void OpenConfiguration();
    void RequestSearch(const wchar_t* how, UINT delayMs, UINT_PTR timer);
    void StartDelay(UINT_PTR timer, const std::wstring& what, UINT delayMs);
    void OpenSearch(const wchar_t* how);
    void CloseSearch();
    void StartCopy();
    void StartRenderTimer();
    void RenderClipboard();
    void FinishRender();
    void PutFormat(const std::string& name);
    HWND Window(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, bool decoy, int x = 0, int y = 0,
                int w = 0, int h = 0, DWORD exStyle = 0);
    void CreateDecoys();
    void FillWithRealChildren(HWND hwnd, int width, int height);
    void PaintGrid(HWND hwnd);
    void InvalidateChanges(HWND grid, const TSimTree::TView& before);
    void PaintHint(HWND hwnd, const wchar_t* text);
    bool InConfiguration(HWND focus) const
    {
        return configuration_ && focus && (focus == configuration_ || IsChild(configuration_, focus));
    }

    TSimOptions options_;
    TSimTree tree_;
    FILE* log_ = nullptr;
    HINSTANCE instance_ = nullptr;
    HWND frame_ = nullptr;
    HWND workspace_ = nullptr;
    HWND configuration_ = nullptr;
    HWND grid_ = nullptr;
    HWND search_ = nullptr;
    HWND searchEdit_ = nullptr;
    int menuStep_ = 0;        // 1 after Ctrl+F10, +1 per Right; Enter at 3 runs the search command
    bool afterAltJ_ = false;  // the C that follows Alt+J belongs to it
    std::u16string pendingCopy_;
    bool holding_ = false;    // the render holds the clipboard open (--hold-open)
    int rendered_ = 0;        // formats put on the clipboard by the render under way
    std::set<HWND> decoys_;
    std::set<UINT_PTR> pendingTimers_;  // delayed windows not yet opened
    TSimStats stats_;
    LONGLONG copyStart_ = 0;  // when the copy under way was asked for (--stats)
    // The delayed render's timer (a synchronisation timer: a wait resets it).
    HANDLE renderTimer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    bool renderPending_ = false;
};

// Every window of the simulator shares this procedure; the window's class
// picks the handler. The object is bound at WM_NCCREATE.
LRESULT CALLBACK TSimulator::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TSimulator*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    if (self->decoys_.count(hwnd)) return self->DecoyProc(hwnd, msg, wp, lp);
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    if (!wcscmp(cls, kFrameClass)) return self->FrameProc(hwnd, msg, wp, lp);
    if (!wcscmp(cls, kWorkspaceClass)) return self->WorkspaceProc(hwnd, msg, wp, lp);
    if (!wcscmp(cls, kLocalFrameClass)) return self->LocalFrameProc(hwnd, msg, wp, lp);
    if (!wcscmp(cls, kGridClass)) return self->GridProc(hwnd, msg, wp, lp);
    return self->FillerProc(hwnd, msg, wp, lp);
}

bool TSimulator::RegisterClasses(HINSTANCE instance)
{
    instance_ = instance;
    const wchar_t* classes[] = {kFrameClass, kWorkspaceClass, kLocalFrameClass, kTabsClass,   kFormElementClass,
                                kGridClass,  kCommandBarClass, kTabHeaderClass,  kToolbarClass};
    for (const wchar_t* name : classes) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = StaticProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(name == kGridClass ? COLOR_WINDOW + 1 : COLOR_BTNFACE + 1);
        wc.lpszClassName = name;
        if (!RegisterClassExW(&wc)) return false;
    }
    return true;
}

bool TSimulator::CreateFrame(HINSTANCE instance, int show)
{
    frame_ = CreateWindowExW(0, kFrameClass, options_.Caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             20, 20, 760, 560, nullptr, nullptr, instance, this);
    if (!frame_) return false;
    RECT rc;
    GetClientRect(frame_, &rc);
    workspace_ = CreateWindowExW(WS_EX_CLIENTEDGE, kWorkspaceClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                 0, 0, rc.right, rc.bottom, frame_, nullptr, instance, this);
    if (!workspace_) return false;
    if (options_.Decoys) CreateDecoys();
    ShowWindow(frame_, show);
    UpdateWindow(frame_);
    SetForegroundWindow(frame_);
    wchar_t line[512];
    swprintf(line, 512, L"start caption=%ls acp=%u", options_.Caption.c_str(), GetACP());
    Log(line);
    return true;
}

HWND TSimulator::Window(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, bool decoy, int x, int y,
                        int w, int h, DWORD exStyle)
{
    HWND hwnd = CreateWindowExW(exStyle, cls, caption, style, x, y, w, h, parent, nullptr, instance_, this);
    if (hwnd && decoy) {
        decoys_.insert(hwnd);
        // Ahead of the real windows in every enumeration: the top of the
        // z-order comes first in EnumWindows, EnumChildWindows and GW_CHILD.
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return hwnd;
}

// The decoys that exist from start-up: a local frame "Конфигурация базы
// данных" below the frame, with a chain of its own down to a grid, and a
// top-level local frame "Сообщения" kept above the other top-level windows.
void TSimulator::CreateDecoys()
{
    RECT rc;
    GetClientRect(workspace_, &rc);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    HWND base = Window(kLocalFrameClass, kDecoyConfigurationCaption, child | WS_CAPTION | WS_CLIPSIBLINGS, workspace_, true,
                       380, 8, 340, rc.bottom - 16);
    HWND tabs = Window(kTabsClass, L"", child, base, true);
    HWND element = Window(kFormElementClass, L"", child, tabs, true);
    Window(kGridClass, L"", child, element, true);
    GetClientRect(base, &rc);
    FillWithRealChildren(base, rc.right, rc.bottom);
    Window(kLocalFrameClass, kMessagesCaption, WS_POPUP | WS_CAPTION | WS_VISIBLE, frame_, true, 790, 20, 220, 140,
           WS_EX_TOPMOST | WS_EX_NOACTIVATE);
}

// Containers lay out one real child over their whole client area; a decoy
// container's children are all decoys, and it fills its first one.
void TSimulator::FillWithRealChildren(HWND hwnd, int width, int height)
{
    bool decoyParent = decoys_.count(hwnd) != 0;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (decoys_.count(c) && !decoyParent) continue;
        MoveWindow(c, 0, 0, width, height, TRUE);
        if (decoyParent) break;
    }
}

LRESULT TSimulator::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SIZE:
        if (workspace_) MoveWindow(workspace_, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
        return 0;
    case WM_SETFOCUS:
        // The Designer keeps the keyboard in its active child: the tree.
        if (grid_) SetFocus(grid_);
        return 0;
    case WM_TIMER:
        KillTimer(hwnd, wp);
        pendingTimers_.erase(wp);
        if (wp == kConfigurationTimer) OpenConfiguration();
        else if (wp == kCtrlFTimer) OpenSearch(L"Ctrl+F");
        else if (wp == kMenuTimer) OpenSearch(L"menu");
        return 0;
    case WM_CLOSE:
        for (const std::wstring& line : stats_.Lines()) Log(line);
        Log(L"close");
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::WorkspaceProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT && !configuration_) {
        PaintHint(hwnd, options_.ConfigurationWindow ? L"Ctrl+Shift+C: открыть конфигурацию" : L"(окно конфигурации отключено)");
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::LocalFrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SIZE:
        FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp));
        return 0;
    case WM_SETFOCUS:
        if (hwnd == configuration_ && grid_) SetFocus(grid_);
        if (hwnd == search_ && searchEdit_) SetFocus(searchEdit_);
        return 0;
    case WM_CLOSE:
        if (hwnd == search_) {
            CloseSearch();
            return 0;
        }
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::FillerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_SIZE) {
        FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp));
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Every decoy logs what it is sent, so that a scenario sees a client that
// took it for a real window.
LRESULT TSimulator::DecoyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    const wchar_t* what = msg == WM_KEYDOWN ? L"keydown" : msg == WM_CHAR ? L"char" : msg == WM_LBUTTONDOWN ? L"click" : nullptr;
    if (what) {
        wchar_t line[128];
        swprintf(line, 128, L"decoy %ls %ls 0x%02X", ClassOf(hwnd).c_str(), what, static_cast<unsigned>(wp));
        Log(line);
        return 0;
    }
    switch (msg) {
    case WM_SIZE:
        FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp));
        return 0;
    case WM_SETFOCUS:
        Log(L"decoy " + ClassOf(hwnd) + L" focus");
        break;
    case WM_PAINT:
        if (GetWindow(hwnd, GW_CHILD)) break;
        PaintHint(hwnd, L"(не то окно)");
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::GridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_KEYDOWN: {
        TStatsScope timed(stats_, L"tree WM_KEYDOWN sent");
        const TSimTree::TView before = tree_.View();
        if (wp == VK_LEFT) tree_.Left();
        else if (wp == VK_RIGHT) tree_.Right();
        else tree_.OtherKey();
        Log(L"tree keydown " + KeyName(wp) + L" -> " + Widen(tree_.SelectedPath()));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    case WM_CHAR: {
        TStatsScope timed(stats_, L"tree WM_CHAR sent");
        const TSimTree::TView before = tree_.View();
        // Every character is logged; a control code is written by number
        // only and ends the typed prefix.
        wchar_t code[32];
        if (wp < 32) swprintf(code, 32, L"U+%04X (control)", static_cast<unsigned>(wp));
        else swprintf(code, 32, L"U+%04X %lc", static_cast<unsigned>(wp), static_cast<wchar_t>(wp));
        bool found = tree_.Char(static_cast<char16_t>(wp));
        Log(std::wstring(L"tree char ") + code + L" -> " + Widen(tree_.SelectedPath()) + (found || wp < 32 ? L"" : L" (no match)"));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    // The selected path, so a test can ask the tree where it stands.
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(tree_.SelectedPath().size());
    case WM_GETTEXT: {
        std::wstring path = Widen(tree_.SelectedPath());
        if (wp == 0) return 0;
        size_t n = std::min(path.size(), static_cast<size_t>(wp) - 1);
        wmemcpy(reinterpret_cast<wchar_t*>(lp), path.c_str(), n);
        reinterpret_cast<wchar_t*>(lp)[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_LBUTTONDOWN: {
        SetFocus(hwnd);
        const TSimTree::TView before = tree_.View();
        int y = static_cast<short>(HIWORD(lp));
        bool hit = y >= kTopMargin && tree_.SelectRow(static_cast<size_t>((y - kTopMargin) / kRowHeight));
        Log(L"tree click -> " + (hit ? Widen(tree_.SelectedPath()) : std::wstring(L"(no row)")));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    case WM_TIMER:
        if (wp == kHoldTimer) {
            KillTimer(hwnd, kHoldTimer);
            FinishRender();
        }
        return 0;
    case WM_PAINT: {
        TStatsScope timed(stats_, L"tree WM_PAINT");
        PaintGrid(hwnd);
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TSimulator::PaintHint(HWND hwnd, const wchar_t* text)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_APPWORKSPACE));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(hwnd, &ps);
}

// Marks for repainting what a key or click changed: when the same rows are
// shown, only the rows of the old and the new selection; otherwise all.
void TSimulator::InvalidateChanges(HWND grid, const TSimTree::TView& before)
{
    const std::optional<std::vector<size_t>> rows = RowsToRepaint(before, tree_.View());
    if (!rows) {
        InvalidateRect(grid, nullptr, TRUE);
        return;
    }
    RECT client;
    GetClientRect(grid, &client);
    for (const size_t i : *rows) {
        const int y = kTopMargin + static_cast<int>(i) * kRowHeight;
        RECT row = {client.left, y, client.right, y + kRowHeight};
        InvalidateRect(grid, &row, TRUE);
    }
}

// The tree as indented text; the selection is highlighted, brighter while
// the tree has the keyboard focus. Only the rows in the update region are
// drawn.
void TSimulator::PaintGrid(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT client;
    GetClientRect(hwnd, &client);
    bool focused = GetFocus() == hwnd;
    int y = kTopMargin;
    for (const auto& [node, depth] : tree_.VisibleRows()) {
        if (y >= ps.rcPaint.bottom) break;
        if (y + kRowHeight <= ps.rcPaint.top) {
            y += kRowHeight;
            continue;
        }
        RECT row = {client.left, y, client.right, y + kRowHeight};
        bool selected = node == &tree_.Selected();
        if (selected) FillRect(dc, &row, GetSysColorBrush(focused ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        std::wstring text = node->Children.empty() ? L"   " : (node->Expanded ? L"[-] " : L"[+] ");
        text += Widen(node->Name);
        RECT textRect = {4 + depth * 18, y, client.right, y + kRowHeight};
        DrawTextW(dc, text.c_str(), -1, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        y += kRowHeight;
    }
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}

// Keyboard input from the queue is looked at here, before dispatch, because
// synthetic keys arrive at whichever window has the focus. Returns true when
// the key was consumed.
bool TSimulator::HandleKey(const MSG& msg)
{
    TStatsScope timed(stats_, L"queued key input handled");
    if (stats_.Enabled) stats_.AddValue(L"queued key input: ms from input to handling", static_cast<LONG>(GetTickCount() - msg.time));
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    // The message's time is set when the key enters the system, so gaps
    // between stamps are the sender's pauses, whatever the simulator's delays.
    Log(std::wstring(down ? L"key down " : L"key up ") + KeyName(msg.wParam) +
        (options_.KeyTimes ? L" t=" + std::to_wstring(msg.time) : L""));
    // Modifiers only change the key state, which GetMessage has already
    // recorded; the tree never sees them.
    bool consumed = down ? HandleKeyDown(msg.wParam, msg.lParam) : IsModifier(msg.wParam);
    // Alt and F10 would start the frame's menu mode and swallow the keys
    // that follow; Alt+F4 still closes the simulator.
    if (msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP) return msg.wParam != VK_F4 || consumed;
    return consumed;
}

// The commands, each a key with one exact set of modifiers. A command key
// that arrives with more modifiers than its chord has comes from a client
// that left a key held: each extra one is logged as "stuck" and the key does
// nothing. A key that is still down (no key-up since its key-down) repeats
// and does nothing either, so a copy without key-ups copies once.
bool TSimulator::HandleKeyDown(WPARAM vk, LPARAM lp)
{
    if (IsModifier(vk)) return true;
    const int step = menuStep_;  // 0: no menu; 1 after Ctrl+F10, +1 per Right
    const bool afterAltJ = afterAltJ_;
    menuStep_ = 0;
    afterAltJ_ = false;

    std::vector<int> chords;  // the modifier sets under which vk is a command now
    if (step > 0) {
        if (vk == VK_RIGHT || vk == VK_RETURN) chords = {0};
    } else if (vk == 'C') {
        chords = {kCtrl | kShift};
        if (afterAltJ) chords.push_back(0);
    } else if (vk == 'F' || vk == VK_F10 || vk == VK_INSERT) {
        chords = {kCtrl};
    } else if (vk == 'J') {
        chords = {kAlt};
    } else if (vk == VK_ESCAPE || vk == VK_F1) {
        chords = {0};
    }
    const int held = HeldModifiers();
    int chord = -1;  // the chord with the most modifiers, all of them held
    for (int c : chords)
        if ((c & held) == c && (chord < 0 || BitCount(c) > BitCount(chord))) chord = c;

    if (chord < 0) {
        // Not a command: a menu in progress is left; other keys go on to the
        // window with the focus.
        if (step == 0) return false;
        Log(L"leave menu");
        return true;
    }
    if (lp & (1L << 30)) {
        Log(L"repeat " + ChordName(held, vk));
        if (step > 0) Log(L"leave menu");
        return true;
    }
    if (held != chord) {
        const int extra = held & ~chord;
        if (extra & kCtrl) Log(L"stuck CONTROL");
        if (extra & kShift) Log(L"stuck SHIFT");
        if (extra & kAlt) Log(L"stuck MENU");
        Log(L"ignore " + ChordName(held, vk));
        if (step > 0) Log(L"leave menu");
        return true;
    }

    HWND focus = GetFocus();
    if (step > 0) {
        if (vk == VK_RIGHT && step < 3) {
            menuStep_ = step + 1;
        } else if (vk == VK_RETURN && step == 3) {
            if (options_.Search == TSearchMode::Never) Log(L"ignore menu search");
            else RequestSearch(L"menu", options_.MenuDelayMs, kMenuTimer);
        } else {
            Log(L"leave menu");
        }
        return true;
    }
    switch (vk) {
    case 'C':
        if (chord == 0) Log(L"ignore C");  // the C that follows Alt+J
        else if (options_.ConfigurationWindow) RequestConfiguration();
        else Log(L"ignore Ctrl+Shift+C");
        return true;
    case 'J':
        Log(L"ignore Alt+J");
        afterAltJ_ = true;
        return true;
    case VK_F1:
        ShowHelp();
        return true;
    case 'F':
        if (options_.Search == TSearchMode::Any && InConfiguration(focus)) RequestSearch(L"Ctrl+F", options_.CtrlFDelayMs, kCtrlFTimer);
        else Log(L"ignore Ctrl+F");
        return true;
    case VK_F10:
        if (GetActiveWindow() == frame_) menuStep_ = 1;
        else Log(L"ignore Ctrl+F10");
        return true;
    case VK_INSERT:
        if (grid_ && focus == grid_) StartCopy();
        else if (decoys_.count(focus)) Log(L"decoy " + ClassOf(focus) + L" copy");
        else Log(L"ignore Ctrl+Insert");
        return true;
    case VK_ESCAPE:
        // Esc closes the search window only when it has the keyboard.
        if (search_ && (focus == search_ || IsChild(search_, focus))) CloseSearch();
        else Log(L"ignore Esc");
        return true;
    }
    return false;
}

void TSimulator::ShowHelp()
{
    Log(L"help open");
    MessageBoxW(frame_,
                L"Имитатор конфигуратора 1С:Предприятия 8.2\n\n"
                L"Ctrl+Shift+C: окно конфигурации\n"
                L"Ctrl+F или Ctrl+F10, Right, Right, Enter: поиск объектов метаданных\n"
                L"Esc: закрыть поиск\n"
                L"Left, Right, буквы: переход по дереву\n"
                L"Ctrl+Insert: копировать объект",
                L"Справка", MB_OK | MB_ICONINFORMATION);
    Log(L"help closed");
}

// The configuration window opens at once, or --config-delay ms later.
void TSimulator::RequestConfiguration()
{
    if (options_.ConfigurationDelayMs == 0 || configuration_) {
        OpenConfiguration();
        return;
    }
    StartDelay(kConfigurationTimer, L"configuration", options_.ConfigurationDelayMs);
}

// A request while the same one is pending changes nothing: the window opens
// when the first request's delay ends.
void TSimulator::StartDelay(UINT_PTR timer, const std::wstring& what, UINT delayMs)
{
    if (!pendingTimers_.insert(timer).second) {
        Log(L"pending " + what);
        return;
    }
    Log(L"delay " + what + L" " + std::to_wstring(delayMs));
    SetTimer(frame_, timer, delayMs, nullptr);
}

void TSimulator::RequestSearch(const wchar_t* how, UINT delayMs, UINT_PTR timer)
{
    if (delayMs == 0 || search_) {
        OpenSearch(how);
        return;
    }
    StartDelay(timer, std::wstring(L"search ") + how, delayMs);
}

void TSimulator::OpenConfiguration()
{
    if (configuration_) {
        Log(L"show configuration");
        SetFocus(grid_);
        return;
    }
    RECT rc;
    GetClientRect(workspace_, &rc);
    if (options_.ConfigurationTopLevel) {
        // Same class, caption and children, but outside the frame's window tree.
        POINT origin{8, 8};
        ClientToScreen(workspace_, &origin);
        configuration_ = CreateWindowExW(0, kLocalFrameClass, kConfigurationCaption,
                                         WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN,
                                         origin.x, origin.y, 360, rc.bottom - 16, frame_, nullptr, instance_, this);
    } else {
        configuration_ = CreateWindowExW(0, kLocalFrameClass, kConfigurationCaption,
                                         WS_CHILD | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                         8, 8, 360, rc.bottom - 16, workspace_, nullptr, instance_, this);
    }
    const DWORD child = WS_CHILD | WS_VISIBLE;
    HWND tabs = Window(kTabsClass, L"", child, configuration_, false);
    HWND element = Window(kFormElementClass, L"", child, tabs, false);
    grid_ = Window(kGridClass, L"", child | WS_TABSTOP, element, false);
    if (options_.Decoys) {
        // Ahead of each link of the chain, a child of another class; ahead of
        // the tabs window, also a form element with a grid of its own.
        Window(kCommandBarClass, L"", child, configuration_, true);
        HWND pair = Window(kFormElementClass, L"", child, configuration_, true);
        Window(kGridClass, L"", child, pair, true);
        Window(kTabHeaderClass, L"", child, tabs, true);
        Window(kToolbarClass, L"", child, element, true);
    }
    GetClientRect(configuration_, &rc);
    MoveWindow(tabs, 0, 0, rc.right, rc.bottom, TRUE);
    ShowWindow(configuration_, SW_SHOW);
    InvalidateRect(workspace_, nullptr, TRUE);
    SetFocus(grid_);
    Log(L"open configuration");
}

void TSimulator::OpenSearch(const wchar_t* how)
{
    if (!search_) {
        search_ = CreateWindowExW(0, kLocalFrameClass, kSearchCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                  430, 160, 330, 110, frame_, nullptr, instance_, this);
        searchEdit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                      10, 20, 300, 24, search_, nullptr, instance_, nullptr);
    }
    SetForegroundWindow(search_);
    SetFocus(searchEdit_);
    Log(std::wstring(L"open search ") + how);
}

void TSimulator::CloseSearch()
{
    HWND search = search_;
    search_ = searchEdit_ = nullptr;
    DestroyWindow(search);
    SetForegroundWindow(frame_);
    if (grid_) SetFocus(grid_);
    Log(L"close search");
}

// Clipboard calls fail while another process holds it open; the reader
// closes it again within milliseconds.
bool OpenClipboardPatiently(HWND owner)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(owner)) return true;
        Sleep(5);
    }
    return false;
}

void TSimulator::StartCopy()
{
    TStatsScope timed(stats_, L"copy started (and rendered, without a latency)");
    // A render still holding the clipboard open ends before the next copy.
    if (holding_) {
        KillTimer(grid_, kHoldTimer);
        FinishRender();
    }
    pendingCopy_ = tree_.SelectedPath();
    copyStart_ = stats_.Now();
    Log(L"copy " + Widen(pendingCopy_));
    // A busy Designer leaves the previous contents in place until it gets to
    // the copy; --keep-stale plays that one.
    if (!options_.KeepStale && OpenClipboardPatiently(grid_)) {
        EmptyClipboard();
        CloseClipboard();
    }
    if (options_.LatencyMs == 0) RenderClipboard();
    else StartRenderTimer();
}

// Puts the copy's formats on the clipboard. With --hold-open the first
// kFormatsBeforeHold go there at once, the clipboard stays open on a timer,
// and FinishRender puts the rest and closes it: a reader that cannot wait
// for the clipboard sees a copy under way.
void TSimulator::RenderClipboard()
{
    TStatsScope timed(stats_, L"clipboard render");
    if (stats_.Enabled) stats_.Add(L"copy keystroke to render start", stats_.Now() - copyStart_);
    if (!OpenClipboardPatiently(grid_)) {
        Log(L"render failed: clipboard busy");
        return;
    }
    EmptyClipboard();
    rendered_ = 0;
    const std::string path = text::Utf16ToCp1251(pendingCopy_);
    const std::vector<std::string> formats = SimCopiedFormats(path);
    const size_t now = options_.HoldOpenMs == 0 ? formats.size() : std::min(kFormatsBeforeHold, formats.size());
    for (size_t i = 0; i < formats.size(); ++i) {
        if (i == now) {
            holding_ = true;
            Log(L"hold " + Widen(pendingCopy_) + L" formats=" + std::to_wstring(rendered_));
            SetTimer(grid_, kHoldTimer, options_.HoldOpenMs, nullptr);
            return;
        }
        PutFormat(formats[i]);
    }
    FinishRender();
}

void TSimulator::PutFormat(const std::string& name)
{
    std::wstring wname(name.begin(), name.end());
    if (wname == options_.DropFormat && Narrow16(options_.DropNode) == pendingCopy_) return;
    UINT id = name == "CF_TEXT" ? CF_TEXT : name == "CF_UNICODETEXT" ? CF_UNICODETEXT : RegisterClipboardFormatW(wname.c_str());
    std::string bytes = SimPayload(text::Utf16ToCp1251(pendingCopy_), name);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!mem) return;
    memcpy(GlobalLock(mem), bytes.data(), bytes.size());
    GlobalUnlock(mem);
    if (SetClipboardData(id, mem)) ++rendered_;
    else GlobalFree(mem);
}

// Puts the formats not yet there, closes the clipboard and logs the render.
void TSimulator::FinishRender()
{
    if (holding_) {
        const std::vector<std::string> formats = SimCopiedFormats(text::Utf16ToCp1251(pendingCopy_));
        for (size_t i = kFormatsBeforeHold; i < formats.size(); ++i) PutFormat(formats[i]);
        holding_ = false;
    }
    CloseClipboard();
    Log(L"render " + Widen(pendingCopy_) + L" formats=" + std::to_wstring(rendered_));
}

// The render of a copy with --latency starts that many milliseconds after
// the keystroke; a new copy before then restarts the count.
void TSimulator::StartRenderTimer()
{
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * options_.LatencyMs;  // relative, in 100 ns units
    renderPending_ = renderTimer_ && SetWaitableTimer(renderTimer_, &due, 0, nullptr, nullptr, FALSE) != FALSE;
    if (!renderPending_) Log(L"render failed: no timer");
}

// The message loop, which also starts a delayed render when its timer is due.
int TSimulator::Run()
{
    MSG msg{};
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(renderTimer_ ? 1 : 0, &renderTimer_, INFINITE, QS_ALLINPUT,
                                                       MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            if (renderPending_) {
                renderPending_ = false;
                RenderClipboard();
            }
            continue;
        }
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                Log(L"exit");
                return static_cast<int>(msg.wParam);
            }
            bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP;
            if (key && HandleKey(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

const wchar_t kUsage[] =
    L"designer_sim [--config FILE] [--log FILE] [--caption TEXT] [--latency MS [--keep-stale]]\n"
    L"             [--drop-format NAME --drop-node PATH] [--search any|second|never]\n"
    L"             [--no-config-window | --top-level-config-window] [--decoys]\n"
    L"             [--config-delay MS] [--ctrl-f-delay MS] [--menu-delay MS] [--hold-open MS] [--key-times] [--stats]";

// Returns an empty string on success, else the complaint.
std::wstring ParseOptions(int argc, wchar_t** argv, TSimOptions& o)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        // A number of milliseconds after the switch.
        auto millis = [&](UINT& out) {
            std::wstring v;
            if (!value(v) || v.empty() || v.size() > 7 || v.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
            out = static_cast<UINT>(std::stoul(v));
            return true;
        };
        std::wstring v;
        if (a == L"--no-config-window") o.ConfigurationWindow = false;
        else if (a == L"--decoys") o.Decoys = true;
        else if (a == L"--key-times") o.KeyTimes = true;
        else if (a == L"--stats") o.Stats = true;
        else if (a == L"--config-delay") { if (!millis(o.ConfigurationDelayMs)) return L"--config-delay needs milliseconds"; }
        else if (a == L"--ctrl-f-delay") { if (!millis(o.CtrlFDelayMs)) return L"--ctrl-f-delay needs milliseconds"; }
        else if (a == L"--menu-delay") { if (!millis(o.MenuDelayMs)) return L"--menu-delay needs milliseconds"; }
        else if (a == L"--hold-open") { if (!millis(o.HoldOpenMs)) return L"--hold-open needs milliseconds"; }
        else if (a == L"--top-level-config-window") o.ConfigurationTopLevel = true;
        else if (a == L"--keep-stale") o.KeepStale = true;
        else if (a == L"--config") { if (!value(o.ConfigFile)) return L"--config needs a file"; }
        else if (a == L"--log") { if (!value(o.LogFile)) return L"--log needs a file"; }
        else if (a == L"--caption") { if (!value(o.Caption)) return L"--caption needs a text"; }
        else if (a == L"--drop-format") { if (!value(o.DropFormat)) return L"--drop-format needs a name"; }
        else if (a == L"--drop-node") { if (!value(o.DropNode)) return L"--drop-node needs a path"; }
        else if (a == L"--latency") { if (!millis(o.LatencyMs)) return L"--latency needs milliseconds"; }
        else if (a == L"--search") {
            if (!value(v)) return L"--search needs a mode";
            if (v == L"any") o.Search = TSearchMode::Any;
            else if (v == L"second") o.Search = TSearchMode::SecondTry;
            else if (v == L"never") o.Search = TSearchMode::Never;
            else return L"unknown --search mode " + v;
        } else {
            return L"unknown switch " + a;
        }
    }
    if (o.ConfigFile.empty()) o.ConfigFile = ExeDirectory() + L"\\designer_tree.txt";
    return {};
}

bool ReadFile(const std::wstring& path, std::string& out)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return true;
}

// Start-up problems go to the log when there is one, else to a message box.
int Fail(const std::wstring& logFile, const std::wstring& text)
{
    FILE* f = logFile.empty() ? nullptr : _wfopen(logFile.c_str(), L"wb");
    if (f) {
        std::string line = "error " + ToUtf8(text) + "\n";
        fwrite(line.data(), 1, line.size(), f);
        fclose(f);
    } else {
        MessageBoxW(nullptr, (text + L"\n\n" + kUsage).c_str(), L"designer_sim", MB_ICONERROR | MB_OK);
    }
    return 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    // Timers and waits to the millisecond, not to the system's 10-16 ms tick.
    timeBeginPeriod(1);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    TSimOptions options;
    std::wstring complaint = ParseOptions(argc, argv, options);
    LocalFree(argv);
    if (!complaint.empty()) return Fail(options.LogFile, complaint);

    std::string text;
    if (!ReadFile(options.ConfigFile, text)) return Fail(options.LogFile, L"cannot read " + options.ConfigFile);
    TSimTree tree;
    try {
        tree = TSimTree::Parse(text);
    } catch (const std::exception& e) {
        return Fail(options.LogFile, options.ConfigFile + L": " + Widen(text::Utf8ToUtf16(e.what())));
    }

    TSimulator sim(std::move(options), std::move(tree));
    if (!sim.OpenLog()) return Fail(L"", L"cannot write the log file");
    if (!sim.RegisterClasses(instance) || !sim.CreateFrame(instance, show)) return Fail(L"", L"cannot create the windows");
    return sim.Run();
}
