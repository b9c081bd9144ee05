#pragma once
// The capture of a running Designer's windows: the user points at the caption
// of the Designer's main frame; the capture then opens and finds its
// configuration window, its metadata-search window and the configuration
// tree by keystrokes, and keeps their handles in TDesignerWindows. Portable
// over the ports IWindowSystem, IKeyboard and platform::IClock, so the main
// form and the command-line tool share it.
//
// Use (the form's timer calls the first function every kCaptureTickMs while
// the user points):
//     if (designer::TWindow frame = designer::DesignerFrameUnderCursor(windowSystem)) {
//         stop the timer;
//         designer::TCaptureOutcome got = designer::CaptureDesigner(windows, frame, ports);
//         if (got.Captured) ... show got.Caption ...
//     }
// Errors are text::TError (Windows-1251 message).

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "designer/DesignerPorts.h"
#include "platform/Clipboard.h"
#include "text/Literal.h"

namespace designer {

// The handles of the captured Designer's windows; 0 when not found. One
// record lives for the whole run and each capture rewrites it.
struct TDesignerWindows {
    TWindow MainFrame = 0;            // the frame the user pointed at
    TWindow ConfigurationWindow = 0;  // once found, kept while it is MainFrame's
    TWindow SearchWindow = 0;         // cleared at the start of every search
    TWindow TreeGrid = 0;             // the configuration tree; the build works on it
};

struct TWindowCapturePorts {
    IWindowSystem& Windows;
    IKeyboard& Keyboard;
    platform::IClock& Clock;
};

// How often the form looks under the mouse pointer while the user points.
inline constexpr std::uint32_t kCaptureTickMs = 3;

// How long a window brought to the front is given to become the foreground
// window before the keys meant for it are refused, and how often it is asked.
inline constexpr std::uint32_t kForegroundPatienceMs = 2000;
inline constexpr std::uint32_t kForegroundPollMs = 10;

// Raised instead of typing when the Designer cannot be put in front: the keys
// would go to whatever program has the keyboard focus.
inline constexpr std::string_view kNotInFrontMessage =
    text::Cp1251<"Окно конфигуратора не удалось вывести на передний план, поэтому нажатия клавиш не отправлены: "
                 "они попали бы в другую программу. Не переключайтесь на другие окна, пока мастер работает с "
                 "конфигуратором, и повторите попытку">;

// Raised at capture when the Designer runs at a higher integrity level than
// this program: the system then silently drops every message and key sent to it.
inline constexpr std::string_view kElevatedDesignerMessage =
    text::Cp1251<"Конфигуратор запущен с более высоким уровнем прав (например, от имени администратора), чем "
                 "мастер. Windows не передает ему сообщения и нажатия клавиш мастера. Запустите обе программы "
                 "одинаково: обе от имени администратора или обе без него">;

// One look under the mouse pointer: the window there when it is a Designer
// main frame (class kMainFrameClass) and the pointer is on its caption
// (WM_NCHITTEST answers HTCAPTION); 0 otherwise.
TWindow DesignerFrameUnderCursor(IWindowSystem& windows);

// The first top-level Designer main frame (class kMainFrameClass) in the
// system's window order whose caption contains `captionPart` (Windows-1251;
// empty: any caption); 0 when there is none. For a capture without pointing.
TWindow FindDesignerFrame(IWindowSystem& windows, std::string_view captionPart);

// Whether a process at integrity level `designer` is out of reach of one at
// `own`: true only when both are known and `designer` is higher.
bool IntegrityAboveOurs(std::optional<std::uint32_t> designer, std::optional<std::uint32_t> own);

// The result of a hit on a Designer frame.
struct TCaptureOutcome {
    bool Captured = false;  // TreeGrid is set
    std::string Caption;    // the frame's caption, read after the first keys
};

// Everything that follows a hit on `frame`: refuses a Designer at a higher
// integrity level (kElevatedDesignerMessage), sets MainFrame, sends Alt+J, C,
// Esc, waits kAfterCaptureKeysWaitMs, reads the caption and runs
// FindBase1CWindows. Every key sequence goes only to the Designer in front
// (TForegroundKeyboard; kNotInFrontMessage otherwise).
TCaptureOutcome CaptureDesigner(TDesignerWindows& windows, TWindow frame, const TWindowCapturePorts& ports);

// Finds ConfigurationWindow (unless known), SearchWindow and TreeGrid for
// windows.MainFrame. A known ConfigurationWindow that is no longer the
// configuration window of MainFrame (closed since, or another Designer's) is
// forgotten first, and TreeGrid with it. Then it opens the configuration
// window with Ctrl+Shift+C and makes up to kSearchWindowAttempts tries to open
// the search window (Ctrl+F in the configuration window, then Ctrl+F10,
// Right, Right, Enter in the frame); when it opened, Ctrl+Insert, Esc and the
// tree below the configuration window. When the search window never opens,
// returns with TreeGrid unchanged.
// `ports.Keyboard` is used as given (CaptureDesigner passes a guarded one).
void FindBase1CWindows(TDesignerWindows& windows, const TWindowCapturePorts& ports);

// The enumeration callbacks: unless their field is already set, store `window`
// there when its class is kLocalFrameClass and its caption kConfigurationCaption
// (resp. kSearchCaption). Return whether the enumeration should go on.
bool EnumConfigurationWindowProc(IWindowSystem& system, TDesignerWindows& windows, TWindow window);
bool EnumSearchWindowProc(IWindowSystem& system, TDesignerWindows& windows, TWindow window);

// The first kGridClass child of the first kFormElementClass child of the
// first kTabsWindowClass child of `configuration`; 0 when a link is missing.
TWindow FindTreeGrid(IWindowSystem& system, TWindow configuration);

// A keyboard that types only into the Designer. Before the first key-down of
// each sequence (no key of its own held) it checks that the foreground window
// belongs to the Designer's process; if not, it brings `front` to the front
// and waits up to kForegroundPatienceMs for that; if the Designer is still not
// in front, it throws kNotInFrontMessage and sends nothing.
class TForegroundKeyboard : public IKeyboard {
public:
    TForegroundKeyboard(IKeyboard& inner, IWindowSystem& windows, platform::IClock& clock, TWindow front)
        : inner_(inner), windows_(windows), clock_(clock), front_(front) {}
    void ActivateLayout(std::string_view klid) override { inner_.ActivateLayout(klid); }
    void KeyEvent(std::uint8_t vk, bool up) override;
    // The window brought to the front when the Designer is not there.
    void SetFront(TWindow front) { front_ = front; }

private:
    void EnsureDesignerInFront();

    IKeyboard& inner_;
    IWindowSystem& windows_;
    platform::IClock& clock_;
    TWindow front_;
    std::set<std::uint8_t> held_;
};

}  // namespace designer
