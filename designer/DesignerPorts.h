#pragma once
// The narrow seams through which the object capture reaches the Designer and
// the form: the Designer's tree window, the keyboard, the delay field and the
// log (the clock and the clipboard are platform ports). The Win32
// implementations (designer/win32) are a few lines each over SendMessageA,
// keybd_event and LoadKeyboardLayoutA/ActivateKeyboardLayout; tests give
// fakes. All texts are Windows-1251.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace designer {

// The Designer's configuration tree. Each call is a synchronous SendMessageA
// with lParam 0: the Designer has handled it when the call returns.
class ITreeWindow {
public:
    virtual ~ITreeWindow() = default;
    // WM_KEYDOWN with the virtual key `vk`.
    virtual void KeyDown(std::uint8_t vk) = 0;
    // WM_CHAR with the Windows-1251 code of one character.
    virtual void Char(std::uint8_t code) = 0;
};

// Synthetic keyboard input of this program's thread.
class IKeyboard {
public:
    virtual ~IKeyboard() = default;
    // LoadKeyboardLayoutA(`klid`, 0), then ActivateKeyboardLayout(that, 0).
    virtual void ActivateLayout(std::string_view klid) = 0;
    // keybd_event(vk, 0, up ? KEYEVENTF_KEYUP : 0, 0): queued input that goes
    // to the window with the keyboard focus.
    virtual void KeyEvent(std::uint8_t vk, bool up) = 0;
};

// The delay field `sl`: its current text.
class IDelayField {
public:
    virtual ~IDelayField() = default;
    virtual std::string Text() = 0;
};

// The log memo `res`: one line per captured object.
class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual void AddLine(const std::string& line) = 0;
};

}  // namespace designer

namespace designer {

// A window of another program (an HWND's value); 0 is "no window".
using TWindow = std::uintptr_t;

// The mandatory integrity level of another program's process, as far as
// this program may read it.
struct TProcessIntegrity {
    // The process opened, but its token did not: another account's process,
    // whose windows drop this program's messages and keys as an elevated one's do.
    bool TokenDenied = false;
    // The token's integrity RID (0x2000 medium, 0x3000 high); nothing when
    // the system does not say (no levels, or the process did not open).
    std::optional<std::uint32_t> Level;
};

// A point on the screen, in pixels.
struct TScreenPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

// The window system as the capture of the Designer's windows sees it. The
// Win32 implementation (designer/win32) is one or two calls per operation;
// tests give a fake. Texts are Windows-1251.
class IWindowSystem {
public:
    virtual ~IWindowSystem() = default;
    // GetCursorPos, then WindowFromPoint: the window under the mouse pointer
    // (0 for none); `cursor` receives the pointer's position.
    virtual TWindow WindowUnderCursor(TScreenPoint& cursor) = 0;
    // The class name / caption into a buffer of kWindowTextBuffer characters,
    // taken up to the first zero: at most 254 characters, as Windows-1251.
    virtual std::string ClassName(TWindow window) = 0;
    virtual std::string Caption(TWindow window) = 0;
    // WM_NCHITTEST, wParam 0, lParam x in the low and y in the high 16 bits,
    // sent with a bound of kHitTestTimeoutMs (SendMessageTimeout,
    // SMTO_ABORTIFHUNG): the hit-test code; 0 (HTNOWHERE) when the window did
    // not answer in time or is hung.
    virtual std::uint32_t HitTest(TWindow window, TScreenPoint at) = 0;
    // The screen point `physical` (as GetCursorPos gives it to this DPI-aware
    // program) in the coordinates `window` works in: a DPI-unaware window
    // sees virtualised pixels (PhysicalToLogicalPointForPerMonitorDPI, else
    // PhysicalToLogicalPoint). Unchanged for a DPI-aware window and where the
    // system has neither function.
    virtual TScreenPoint ToWindowPoint(TWindow window, TScreenPoint physical) = 0;
    // EnumChildWindows(parent) / EnumWindows: calls `visit` for each window in
    // the system's order until it returns false.
    virtual void EnumChildWindows(TWindow parent, const std::function<bool(TWindow)>& visit) = 0;
    virtual void EnumWindows(const std::function<bool(TWindow)>& visit) = 0;
    // IsChild: whether `window` is a window below `parent`, at any depth.
    virtual bool IsDescendant(TWindow parent, TWindow window) = 0;
    // FindWindowExA(parent, 0, cls, 0): the first direct child of that class.
    virtual TWindow FindChild(TWindow parent, std::string_view cls) = 0;
    // SetForegroundWindow: whether the system granted it.
    virtual bool SetForeground(TWindow window) = 0;
    // Whether the foreground window belongs to the process that owns `window`.
    virtual bool ForegroundIsProcessOf(TWindow window) = 0;
    // The mandatory integrity level of the process that owns `window` (see
    // TProcessIntegrity), and of this process (nothing when the system does
    // not say).
    virtual TProcessIntegrity IntegrityOf(TWindow window) = 0;
    virtual std::optional<std::uint32_t> OwnIntegrity() = 0;
    // Whether the desktop that receives the user's input is the one this
    // program runs on (OpenInputDesktop): false while the workstation is
    // locked, a UAC prompt is up, or the remote session is minimised or
    // disconnected. Then no window can be brought to the front.
    virtual bool InputDesktopIsOurs() = 0;
};

// What GetGUIThreadInfo tells of the thread that owns a window.
struct TGuiThreadState {
    bool Known = false;       // the system answered
    TWindow Focus = 0;        // the window with the keyboard focus (hwndFocus)
    TWindow Active = 0;       // the thread's active window (hwndActive)
    bool MenuOrMove = false;  // a menu is open (menu, popup or system menu mode) or a window is moved or sized
};

// The keyboard state of the Designer's thread, looked at before each copy
// keystroke of a build: the copy keys go to whatever control has the focus.
class ITreeFocus {
public:
    virtual ~ITreeFocus() = default;
    // The configuration tree, and the top-level window it lies in
    // (GetAncestor, GA_ROOT).
    virtual TWindow Tree() = 0;
    virtual TWindow TreeTopLevel() = 0;
    // GetGUIThreadInfo on the thread that owns the tree.
    virtual TGuiThreadState TreeThreadState() = 0;
};

}  // namespace designer
