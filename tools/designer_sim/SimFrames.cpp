// The simulator's windows other than the tree: the frame with its workspace,
// the configuration and search windows that the capture keys open (at once
// or after a delay), the decoys, the help box; one window procedure for all.
#include <cwchar>
#include <string>

#include "Simulator.h"

std::wstring ClassOf(HWND hwnd) {
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    return cls;
}

// Every window of the simulator shares this procedure; the window's class
// picks the handler. The object is bound at WM_NCCREATE.
LRESULT CALLBACK TSimulator::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
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

bool TSimulator::RegisterClasses(HINSTANCE instance) {
    instance_ = instance;
    const wchar_t* classes[] = {kFrameClass, kWorkspaceClass,  kLocalFrameClass, kTabsClass,   kFormElementClass,
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

bool TSimulator::CreateFrame(HINSTANCE instance, int show) {
    frame_ = CreateWindowExW(0, kFrameClass, options_.Caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20,
                             760, 560, nullptr, nullptr, instance, this);
    if (!frame_) return false;
    RECT rc;
    GetClientRect(frame_, &rc);
    workspace_ = CreateWindowExW(WS_EX_CLIENTEDGE, kWorkspaceClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                 rc.right, rc.bottom, frame_, nullptr, instance, this);
    if (!workspace_) return false;
    if (options_.Decoys) CreateDecoys();
    if (options_.HungFrame && !CreateHungFrame()) return false;
    ShowWindow(frame_, show);
    UpdateWindow(frame_);
    SetForegroundWindow(frame_);
    wchar_t line[512];
    swprintf(line, 512, L"start caption=%ls acp=%u", options_.Caption.c_str(), GetACP());
    Log(line);
    return true;
}

HWND TSimulator::Window(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, bool decoy, int x, int y,
                        int w, int h, DWORD exStyle) {
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
void TSimulator::CreateDecoys() {
    RECT rc;
    GetClientRect(workspace_, &rc);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    HWND base = Window(kLocalFrameClass, kDecoyConfigurationCaption, child | WS_CAPTION | WS_CLIPSIBLINGS, workspace_,
                       true, 380, 8, 340, rc.bottom - 16);
    HWND tabs = Window(kTabsClass, L"", child, base, true);
    HWND element = Window(kFormElementClass, L"", child, tabs, true);
    Window(kGridClass, L"", child, element, true);
    GetClientRect(base, &rc);
    FillWithRealChildren(base, rc.right, rc.bottom);
    Window(kLocalFrameClass, kMessagesCaption, WS_POPUP | WS_CAPTION | WS_VISIBLE, frame_, true, 790, 20, 220, 140,
           WS_EX_TOPMOST | WS_EX_NOACTIVATE);
}

namespace {

struct THungFrameStart {
    HINSTANCE Instance;
    HANDLE Created;
    HWND Frame = nullptr;
};

// The thread of the hung frame: it creates the frame below the other
// windows, then never takes a message again, as a program that hangs.
DWORD WINAPI HungFrameThread(LPVOID param) {
    auto* start = static_cast<THungFrameStart*>(param);
    HWND frame = CreateWindowExW(0, kFrameClass, kHungFrameCaption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 620, 420,
                                 120, nullptr, nullptr, start->Instance, nullptr);
    // Last in the window order, so that a search for the simulator's frame
    // by its class finds the one that answers.
    if (frame) SetWindowPos(frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    start->Frame = frame;
    SetEvent(start->Created);
    Sleep(INFINITE);
    return 0;
}

}  // namespace

// --hung-frame: a second frame of the Designer's class, below the real one's
// screen area, whose thread never answers a message: a busy or hung program
// that the pointer crosses on its way to the Designer's caption. A message
// sent to it without a time bound never returns.
bool TSimulator::CreateHungFrame() {
    THungFrameStart start{instance_, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (!start.Created) return false;
    HANDLE thread = CreateThread(nullptr, 0, HungFrameThread, &start, 0, nullptr);
    if (thread) {
        WaitForSingleObject(start.Created, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(start.Created);
    if (!start.Frame) return false;
    wchar_t line[64];
    swprintf(line, 64, L"hung frame 0x%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(start.Frame)));
    Log(line);
    return true;
}

// Containers lay out one real child over their whole client area; a decoy
// container's children are all decoys, and it fills its first one.
void TSimulator::FillWithRealChildren(HWND hwnd, int width, int height) {
    bool decoyParent = decoys_.count(hwnd) != 0;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (decoys_.count(c) && !decoyParent) continue;
        MoveWindow(c, 0, 0, width, height, TRUE);
        if (decoyParent) break;
    }
}

LRESULT TSimulator::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE:
        if (workspace_) MoveWindow(workspace_, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
        return 0;
    case WM_SETFOCUS:
        // The Designer keeps the keyboard in its active child: the tree, or
        // with --search-keeps-focus the search window while it is open.
        if (options_.SearchKeepsFocus && searchEdit_) SetFocus(searchEdit_);
        else if (grid_) SetFocus(grid_);
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
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::WorkspaceProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT && !configuration_) {
        PaintHint(hwnd, options_.ConfigurationWindow ? L"Ctrl+Shift+C: открыть конфигурацию"
                                                     : L"(окно конфигурации отключено)");
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TSimulator::LocalFrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE: FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp)); return 0;
    case WM_SETFOCUS:
        if (hwnd == configuration_ && options_.SearchKeepsFocus && searchEdit_) SetFocus(searchEdit_);
        else if (hwnd == configuration_ && grid_) SetFocus(grid_);
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

LRESULT TSimulator::FillerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SIZE) {
        FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp));
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Every decoy logs what it is sent, so that a scenario sees a client that
// took it for a real window.
LRESULT TSimulator::DecoyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const wchar_t* what = msg == WM_KEYDOWN       ? L"keydown"
                          : msg == WM_CHAR        ? L"char"
                          : msg == WM_LBUTTONDOWN ? L"click"
                                                  : nullptr;
    if (what) {
        wchar_t line[128];
        swprintf(line, 128, L"decoy %ls %ls 0x%02X", ClassOf(hwnd).c_str(), what, static_cast<unsigned>(wp));
        Log(line);
        return 0;
    }
    switch (msg) {
    case WM_SIZE: FillWithRealChildren(hwnd, LOWORD(lp), HIWORD(lp)); return 0;
    case WM_SETFOCUS: Log(L"decoy " + ClassOf(hwnd) + L" focus"); break;
    case WM_PAINT:
        if (GetWindow(hwnd, GW_CHILD)) break;
        PaintHint(hwnd, L"(не то окно)");
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TSimulator::PaintHint(HWND hwnd, const wchar_t* text) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_APPWORKSPACE));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(hwnd, &ps);
}

void TSimulator::ShowHelp() {
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
void TSimulator::RequestConfiguration() {
    if (options_.ConfigurationDelayMs == 0 || configuration_) {
        OpenConfiguration();
        return;
    }
    StartDelay(kConfigurationTimer, L"configuration", options_.ConfigurationDelayMs);
}

// A request while the same one is pending changes nothing: the window opens
// when the first request's delay ends.
void TSimulator::StartDelay(UINT_PTR timer, const std::wstring& what, UINT delayMs) {
    if (!pendingTimers_.insert(timer).second) {
        Log(L"pending " + what);
        return;
    }
    Log(L"delay " + what + L" " + std::to_wstring(delayMs));
    SetTimer(frame_, timer, delayMs, nullptr);
}

void TSimulator::RequestSearch(const wchar_t* how, UINT delayMs, UINT_PTR timer) {
    if (delayMs == 0 || search_) {
        OpenSearch(how);
        return;
    }
    StartDelay(timer, std::wstring(L"search ") + how, delayMs);
}

void TSimulator::OpenConfiguration() {
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
                                         WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN, origin.x, origin.y,
                                         360, rc.bottom - 16, frame_, nullptr, instance_, this);
    } else {
        configuration_ = CreateWindowExW(0, kLocalFrameClass, kConfigurationCaption,
                                         WS_CHILD | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 8,
                                         8, 360, rc.bottom - 16, workspace_, nullptr, instance_, this);
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

void TSimulator::OpenSearch(const wchar_t* how) {
    if (!search_) {
        search_ =
            CreateWindowExW(0, kLocalFrameClass, kSearchCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                            430, 160, 330, 110, frame_, nullptr, instance_, this);
        searchEdit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 20,
                                      300, 24, search_, nullptr, instance_, nullptr);
    }
    searchFound_ = tree_.SelectedPath();
    SetForegroundWindow(search_);
    SetFocus(searchEdit_);
    Log(std::wstring(L"open search ") + how);
}

void TSimulator::CloseSearch() {
    HWND search = search_;
    search_ = searchEdit_ = nullptr;
    DestroyWindow(search);
    SetForegroundWindow(frame_);
    if (grid_) SetFocus(grid_);
    Log(L"close search");
}
