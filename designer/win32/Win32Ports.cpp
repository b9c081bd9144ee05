#include "designer/win32/Win32Ports.h"

#include <mmsystem.h>

#include <memory>
#include <string>

#include "designer/DesignerInterface.h"
#include "platform/ScopedWin32.h"
#include "text/Codepage.h"

namespace designer {

bool SendWithin(HWND window, UINT message, WPARAM wp, LPARAM lp, std::uint32_t waitMs) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, message, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG, waitMs, &result) != 0;
}

void TWin32TreeWindow::Send(UINT message, WPARAM wp) {
    // A message that timed out stays queued and is still handled: it is
    // never sent again; WM_NULL after it tells when it has been.
    AwaitAnswer([&](std::uint32_t waitMs) { return SendWithin(tree_, message, wp, 0, waitMs); },
                [&](std::uint32_t waitMs) { return SendWithin(tree_, WM_NULL, 0, 0, waitMs); }, *clock_, Answer);
}

void TWin32TreeWindow::KeyDown(std::uint8_t vk) { Send(WM_KEYDOWN, vk); }

void TWin32TreeWindow::Char(std::uint8_t code) {
    const char c = static_cast<char>(code);
    const std::u16string unit = text::Cp1251ToUtf16(std::string_view(&c, 1));
    Send(WM_CHAR, static_cast<WPARAM>(unit.empty() ? 0 : unit[0]));
}

void TWin32Keyboard::ActivateLayout(std::string_view klid) {
    const std::string id(klid);
    if (HKL layout = ::LoadKeyboardLayoutA(id.c_str(), 0)) ::ActivateKeyboardLayout(layout, 0);
}

void TWin32Keyboard::KeyEvent(std::uint8_t vk, bool up) { ::keybd_event(vk, 0, up ? KEYEVENTF_KEYUP : 0, 0); }

TWin32MessageClock::TWin32MessageClock() : fineTimer_(::timeBeginPeriod(1) == TIMERR_NOERROR) {}

TWin32MessageClock::~TWin32MessageClock() {
    if (fineTimer_) ::timeEndPeriod(1);
}

void TWin32MessageClock::Sleep(std::uint32_t ms) {
    const std::uint64_t end = clock_.NowMs() + ms;
    const DWORD sequence = wakeOnClipboard_ ? ::GetClipboardSequenceNumber() : 0;
    for (;;) {
        // Peeking handles every message sent from another thread; with
        // PM_NOREMOVE and the send-only filter nothing posted is taken.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        // With a clipboard listener (TClipboardListener), its notice ends
        // the sleep early: whoever sleeps here looks at the clipboard next.
        if (wakeOnClipboard_) {
            bool changed = false;
            while (::PeekMessageW(&msg, nullptr, WM_CLIPBOARDUPDATE, WM_CLIPBOARDUPDATE, PM_REMOVE)) changed = true;
            if (changed || ::GetClipboardSequenceNumber() != sequence) return;
        }
        const std::uint64_t now = clock_.NowMs();
        if (now >= end) return;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now),
                                      wakeOnClipboard_ ? QS_SENDMESSAGE | QS_POSTMESSAGE : QS_SENDMESSAGE, 0);
    }
}

TClipboardListener::TClipboardListener(HWND window)
    : window_(window && ::AddClipboardFormatListener(window) ? window : nullptr) {}

TClipboardListener::~TClipboardListener() {
    if (window_) ::RemoveClipboardFormatListener(window_);
}

std::uint64_t TWin32MessageClock::NowMs() { return clock_.NowMs(); }

namespace {

struct TEnumState {
    const std::function<bool(TWindow)>* Visit;
};

BOOL CALLBACK EnumProc(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<TEnumState*>(param);
    return (*state->Visit)(FromHwnd(hwnd)) ? TRUE : FALSE;
}

// The integrity RID of a process token: the last sub-authority of the
// token's mandatory label.
std::optional<std::uint32_t> TokenIntegrity(HANDLE token) {
    std::optional<std::uint32_t> level;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    if (size > 0) {
        auto buffer = std::make_unique<unsigned char[]>(size);
        auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.get());
        if (::GetTokenInformation(token, TokenIntegrityLevel, label, size, &size) &&
            ::IsValidSid(label->Label.Sid)) {
            const UCHAR count = *::GetSidSubAuthorityCount(label->Label.Sid);
            if (count > 0) level = *::GetSidSubAuthority(label->Label.Sid, count - 1);
        }
    }
    return level;
}

// user32's conversion of a physical point into a window's logical one, looked
// up at run time: PhysicalToLogicalPointForPerMonitorDPI exists from Windows
// 8.1, PhysicalToLogicalPoint from Vista.
using TPointConversion = BOOL(WINAPI*)(HWND, LPPOINT);

TPointConversion PointConversion() {
    static const TPointConversion conversion = [] {
        HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
        if (!user32) return TPointConversion{};
        FARPROC found = ::GetProcAddress(user32, "PhysicalToLogicalPointForPerMonitorDPI");
        if (!found) found = ::GetProcAddress(user32, "PhysicalToLogicalPoint");
        // Through a function type without parameters, which may hold any.
        return reinterpret_cast<TPointConversion>(reinterpret_cast<void (*)()>(found));
    }();
    return conversion;
}

}  // namespace

TWindow TWin32WindowSystem::WindowUnderCursor(TScreenPoint& cursor) {
    POINT p{};
    if (!::GetCursorPos(&p)) return 0;
    cursor = {p.x, p.y};
    return FromHwnd(::WindowFromPoint(p));
}

// Class names and captions are read with the wide functions and converted
// from UTF-16 by the system's own table, not by the machine's ANSI code page,
// so a Russian caption compares equal on any machine.
namespace {

std::string WindowString(int (*read)(HWND, LPWSTR, int), HWND hwnd) {
    wchar_t buffer[kWindowTextBuffer] = {};
    const int n = read(hwnd, buffer, static_cast<int>(kWindowTextBuffer));
    const std::u16string text(reinterpret_cast<const char16_t*>(buffer), n > 0 ? static_cast<std::size_t>(n) : 0);
    return text::Utf16ToCp1251(text.c_str());
}

int ReadClassName(HWND hwnd, LPWSTR buffer, int size) { return ::GetClassNameW(hwnd, buffer, size); }
int ReadCaption(HWND hwnd, LPWSTR buffer, int size) { return ::GetWindowTextW(hwnd, buffer, size); }

}  // namespace

std::string TWin32WindowSystem::ClassName(TWindow window) { return WindowString(ReadClassName, ToHwnd(window)); }

std::string TWin32WindowSystem::Caption(TWindow window) { return WindowString(ReadCaption, ToHwnd(window)); }

std::uint32_t TWin32WindowSystem::HitTest(TWindow window, TScreenPoint at) {
    const LPARAM where = MAKELPARAM(static_cast<WORD>(at.X), static_cast<WORD>(at.Y));
    DWORD_PTR answer = 0;
    // The form's timer waits in here: a window that does not answer in time
    // is not the caption the user points at.
    if (!::SendMessageTimeoutW(ToHwnd(window), WM_NCHITTEST, 0, where, SMTO_ABORTIFHUNG, kHitTestTimeoutMs, &answer))
        return HTNOWHERE;
    return static_cast<std::uint32_t>(answer);
}

TScreenPoint TWin32WindowSystem::ToWindowPoint(TWindow window, TScreenPoint physical) {
    POINT p{physical.X, physical.Y};
    const TPointConversion convert = PointConversion();
    if (!convert || !convert(ToHwnd(window), &p)) return physical;
    return {p.x, p.y};
}

void TWin32WindowSystem::EnumChildWindows(TWindow parent, const std::function<bool(TWindow)>& visit) {
    TEnumState state{&visit};
    ::EnumChildWindows(ToHwnd(parent), EnumProc, reinterpret_cast<LPARAM>(&state));
}

void TWin32WindowSystem::EnumWindows(const std::function<bool(TWindow)>& visit) {
    TEnumState state{&visit};
    ::EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&state));
}

bool TWin32WindowSystem::IsDescendant(TWindow parent, TWindow window) {
    return ::IsChild(ToHwnd(parent), ToHwnd(window)) != FALSE;
}

TWindow TWin32WindowSystem::FindChild(TWindow parent, std::string_view cls) {
    const std::string name(cls);
    return FromHwnd(::FindWindowExA(ToHwnd(parent), nullptr, name.c_str(), nullptr));
}

bool TWin32WindowSystem::SetForeground(TWindow window) {
    HWND hwnd = ToHwnd(window);
    if (::SetForegroundWindow(hwnd)) return true;
    // Some systems refuse a child window; its top-level window then comes
    // forward with the child's focus as it was.
    HWND root = ::GetAncestor(hwnd, GA_ROOT);
    return root && root != hwnd && ::SetForegroundWindow(root) != FALSE;
}

bool TWin32WindowSystem::ForegroundIsProcessOf(TWindow window) {
    DWORD target = 0;
    DWORD front = 0;
    HWND foreground = ::GetForegroundWindow();
    if (!foreground || !::GetWindowThreadProcessId(ToHwnd(window), &target)) return false;
    ::GetWindowThreadProcessId(foreground, &front);
    return front == target;
}

TProcessIntegrity TWin32WindowSystem::IntegrityOf(TWindow window) {
    DWORD pid = 0;
    if (!::GetWindowThreadProcessId(ToHwnd(window), &pid)) return {};
    const platform::TScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.Valid()) return {};
    platform::TScopedHandle token;
    if (!::OpenProcessToken(process.Get(), TOKEN_QUERY, token.Receive()))
        return {::GetLastError() == ERROR_ACCESS_DENIED, std::nullopt};
    return {false, TokenIntegrity(token.Get())};
}

std::optional<std::uint32_t> TWin32WindowSystem::OwnIntegrity() {
    platform::TScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return std::nullopt;
    return TokenIntegrity(token.Get());
}

bool TWin32WindowSystem::InputDesktopIsOurs() {
    // Without the rights to the input desktop (the secure desktop of a locked
    // workstation or a UAC prompt) it does not open at all.
    HDESK input = ::OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) return false;
    const auto name = [](HDESK desktop) {
        wchar_t buffer[256] = {};
        DWORD needed = 0;
        ::GetUserObjectInformationW(desktop, UOI_NAME, buffer, sizeof buffer - sizeof buffer[0], &needed);
        return std::wstring(buffer);
    };
    const bool ours = name(input) == name(::GetThreadDesktop(::GetCurrentThreadId()));
    ::CloseDesktop(input);
    return ours;
}

TWindow TWin32TreeFocus::TreeTopLevel() { return FromHwnd(::GetAncestor(ToHwnd(tree_), GA_ROOT)); }

TGuiThreadState TWin32TreeFocus::TreeThreadState() {
    const DWORD thread = ::GetWindowThreadProcessId(ToHwnd(tree_), nullptr);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (thread == 0 || !::GetGUIThreadInfo(thread, &info)) return {};
    constexpr DWORD kMenuOrMove = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE;
    return {true, FromHwnd(info.hwndFocus), FromHwnd(info.hwndActive), (info.flags & kMenuOrMove) != 0};
}

}  // namespace designer
