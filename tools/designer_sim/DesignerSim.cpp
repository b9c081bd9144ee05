// A stand-in for the 1C:Enterprise 8.2 Designer: the windows, shortcuts,
// tree behaviour and clipboard formats that an outside program relies on when
// it drives the Designer, plus a log of everything it received.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
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

const UINT_PTR kRenderTimer = 1;
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
};

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

class TSimulator {
public:
    TSimulator(TSimOptions options, TSimTree tree) : options_(std::move(options)), tree_(std::move(tree)) {}
    ~TSimulator()
    {
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

    bool HandleKey(const MSG& msg);
    bool HandleKeyDown(WPARAM vk);
    void ShowHelp();
    void OpenConfiguration();
    void OpenSearch(const wchar_t* how);
    void CloseSearch();
    void StartCopy();
    void RenderClipboard();
    void PaintGrid(HWND hwnd);
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
    const wchar_t* classes[] = {kFrameClass, kWorkspaceClass, kLocalFrameClass, kTabsClass, kFormElementClass, kGridClass};
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
    ShowWindow(frame_, show);
    UpdateWindow(frame_);
    SetForegroundWindow(frame_);
    wchar_t line[512];
    swprintf(line, 512, L"start caption=%ls acp=%u", options_.Caption.c_str(), GetACP());
    Log(line);
    return workspace_ != nullptr;
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
    case WM_CLOSE:
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
        if (HWND child = GetWindow(hwnd, GW_CHILD)) MoveWindow(child, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
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
        if (HWND child = GetWindow(hwnd, GW_CHILD)) MoveWindow(child, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::GridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_KEYDOWN: {
        if (wp == VK_LEFT) tree_.Left();
        else if (wp == VK_RIGHT) tree_.Right();
        Log(L"tree keydown " + KeyName(wp) + L" -> " + Widen(tree_.SelectedPath()));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case WM_CHAR: {
        if (wp < 32) return 0;
        wchar_t code[32];
        swprintf(code, 32, L"U+%04X %lc", static_cast<unsigned>(wp), static_cast<wchar_t>(wp));
        bool found = tree_.Char(static_cast<char16_t>(wp));
        Log(std::wstring(L"tree char ") + code + L" -> " + Widen(tree_.SelectedPath()) + (found ? L"" : L" (no match)"));
        InvalidateRect(hwnd, nullptr, TRUE);
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
        int y = static_cast<short>(HIWORD(lp));
        bool hit = y >= kTopMargin && tree_.SelectRow(static_cast<size_t>((y - kTopMargin) / kRowHeight));
        Log(L"tree click -> " + (hit ? Widen(tree_.SelectedPath()) : std::wstring(L"(no row)")));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case WM_TIMER:
        if (wp == kRenderTimer) {
            KillTimer(hwnd, kRenderTimer);
            RenderClipboard();
        }
        return 0;
    case WM_PAINT:
        PaintGrid(hwnd);
        return 0;
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

// The tree as indented text; the selection is highlighted, brighter while
// the tree has the keyboard focus.
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
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    Log(std::wstring(down ? L"key down " : L"key up ") + KeyName(msg.wParam));
    // Modifiers only change the key state, which GetMessage has already
    // recorded; the tree never sees them.
    bool consumed = down ? HandleKeyDown(msg.wParam) : IsModifier(msg.wParam);
    // Alt and F10 would start the frame's menu mode and swallow the keys
    // that follow; Alt+F4 still closes the simulator.
    if (msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP) return msg.wParam != VK_F4 || consumed;
    return consumed;
}

bool TSimulator::HandleKeyDown(WPARAM vk)
{
    if (IsModifier(vk)) return true;
    bool ctrl = IsDown(VK_CONTROL), shift = IsDown(VK_SHIFT), alt = IsDown(VK_MENU);
    HWND focus = GetFocus();

    if (menuStep_ > 0) {
        if (vk == VK_RIGHT && menuStep_ < 3) {
            ++menuStep_;
            return true;
        }
        int step = menuStep_;
        menuStep_ = 0;
        if (vk == VK_RETURN && step == 3) {
            if (options_.Search == TSearchMode::Never) Log(L"ignore menu search");
            else OpenSearch(L"menu");
        } else {
            Log(L"leave menu");
        }
        return true;
    }
    if (afterAltJ_) {
        afterAltJ_ = false;
        if (vk == 'C' && !ctrl && !alt) {
            Log(L"ignore C");
            return true;
        }
    }
    if (vk == 'J' && alt) {
        Log(L"ignore Alt+J");
        afterAltJ_ = true;
        return true;
    }
    if (vk == VK_F1) {
        ShowHelp();
        return true;
    }
    if (vk == 'C' && ctrl && shift) {
        if (options_.ConfigurationWindow) OpenConfiguration();
        else Log(L"ignore Ctrl+Shift+C");
        return true;
    }
    if (vk == 'F' && ctrl && !shift) {
        if (options_.Search == TSearchMode::Any && InConfiguration(focus)) OpenSearch(L"Ctrl+F");
        else Log(L"ignore Ctrl+F");
        return true;
    }
    if (vk == VK_F10 && ctrl) {
        if (GetActiveWindow() == frame_) menuStep_ = 1;
        else Log(L"ignore Ctrl+F10");
        return true;
    }
    if (vk == VK_INSERT && ctrl) {
        if (grid_ && focus == grid_) StartCopy();
        else Log(L"ignore Ctrl+Insert");
        return true;
    }
    if (vk == VK_ESCAPE) {
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
    HWND tabs = CreateWindowExW(0, kTabsClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, configuration_, nullptr, instance_, this);
    HWND element = CreateWindowExW(0, kFormElementClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, tabs, nullptr, instance_, this);
    grid_ = CreateWindowExW(0, kGridClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, element, nullptr, instance_, this);
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
    pendingCopy_ = tree_.SelectedPath();
    Log(L"copy " + Widen(pendingCopy_));
    // A busy Designer leaves the previous contents in place until it gets to
    // the copy; --keep-stale plays that one.
    if (!options_.KeepStale && OpenClipboardPatiently(grid_)) {
        EmptyClipboard();
        CloseClipboard();
    }
    if (options_.LatencyMs == 0) RenderClipboard();
    else SetTimer(grid_, kRenderTimer, options_.LatencyMs, nullptr);
}

void TSimulator::RenderClipboard()
{
    const std::string path = text::Utf16ToCp1251(pendingCopy_);
    if (!OpenClipboardPatiently(grid_)) {
        Log(L"render failed: clipboard busy");
        return;
    }
    EmptyClipboard();
    int count = 0;
    for (const std::string& name : SimCopiedFormats(path)) {
        std::wstring wname(name.begin(), name.end());
        if (wname == options_.DropFormat && Narrow16(options_.DropNode) == pendingCopy_) continue;
        UINT id = name == "CF_TEXT" ? CF_TEXT : name == "CF_UNICODETEXT" ? CF_UNICODETEXT : RegisterClipboardFormatW(wname.c_str());
        std::string bytes = SimPayload(path, name);
        HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (!mem) continue;
        memcpy(GlobalLock(mem), bytes.data(), bytes.size());
        GlobalUnlock(mem);
        if (SetClipboardData(id, mem)) ++count;
        else GlobalFree(mem);
    }
    CloseClipboard();
    Log(L"render " + Widen(pendingCopy_) + L" formats=" + std::to_wstring(count));
}

int TSimulator::Run()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP;
        if (key && HandleKey(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Log(L"exit");
    return static_cast<int>(msg.wParam);
}

const wchar_t kUsage[] =
    L"designer_sim [--config FILE] [--log FILE] [--caption TEXT] [--latency MS [--keep-stale]]\n"
    L"             [--drop-format NAME --drop-node PATH] [--search any|second|never]\n"
    L"             [--no-config-window | --top-level-config-window]";

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
        std::wstring v;
        if (a == L"--no-config-window") o.ConfigurationWindow = false;
        else if (a == L"--top-level-config-window") o.ConfigurationTopLevel = true;
        else if (a == L"--keep-stale") o.KeepStale = true;
        else if (a == L"--config") { if (!value(o.ConfigFile)) return L"--config needs a file"; }
        else if (a == L"--log") { if (!value(o.LogFile)) return L"--log needs a file"; }
        else if (a == L"--caption") { if (!value(o.Caption)) return L"--caption needs a text"; }
        else if (a == L"--drop-format") { if (!value(o.DropFormat)) return L"--drop-format needs a name"; }
        else if (a == L"--drop-node") { if (!value(o.DropNode)) return L"--drop-node needs a path"; }
        else if (a == L"--latency") {
            if (!value(v) || v.empty() || v.find_first_not_of(L"0123456789") != std::wstring::npos) return L"--latency needs milliseconds";
            o.LatencyMs = static_cast<UINT>(std::stoul(v));
        } else if (a == L"--search") {
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
