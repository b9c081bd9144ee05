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

// How long a window under the pointer is given to answer the hit test: a
// hung or busy window the pointer crosses on its way to the Designer costs
// one tick this long and counts as no hit.
inline constexpr std::uint32_t kHitTestTimeoutMs = 200;

// How often a capture looks for the configuration window while it waits for
// a slow Designer to open it.
inline constexpr std::uint32_t kConfigurationPollMs = 100;

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

// Raised instead of typing when the desktop that takes the user's input is
// not this program's: no window can come to the front then.
inline constexpr std::string_view kNoInputDesktopMessage =
    text::Cp1251<"Рабочий стол Windows сейчас недоступен для ввода (компьютер заблокирован, открыт запрос "
                 "контроля учетных записей или удаленный сеанс свернут или отключен), поэтому нажатия клавиш в "
                 "конфигуратор не отправлены. Разблокируйте компьютер или разверните сеанс и повторите попытку">;

// Raised at capture when the Designer's process opens but its token does not:
// it runs under another account, and the system drops every message and key
// of ours as it does for an elevated Designer.
inline constexpr std::string_view kOtherAccountDesignerMessage =
    text::Cp1251<"Конфигуратор запущен от имени другого пользователя или с другими правами, чем мастер. Windows "
                 "не передает ему сообщения и нажатия клавиш мастера. Запустите обе программы одинаково: от имени "
                 "одного пользователя, обе от имени администратора или обе без него">;

// Raised when a build starts on windows that are no longer those of the
// capture: the Designer was closed, restarted or has closed its
// configuration window since.
inline constexpr std::string_view kDesignerWindowsChangedMessage =
    text::Cp1251<"Окно конфигуратора, захваченное мастером, закрыто или изменилось (конфигуратор перезапущен или "
                 "окно конфигурации закрыто). Захватите окно конфигуратора заново и повторите попытку">;

// One look under the mouse pointer: the window there when it is a Designer
// main frame (class kMainFrameClass, read first: reading it sends no
// message) and the pointer is on its caption (WM_NCHITTEST at the pointer,
// converted into the frame's coordinates, answers HTCAPTION within
// kHitTestTimeoutMs); 0 otherwise. Only a frame gets the hit test. A frame
// out of reach (DesignerOutOfReach) throws its message at once, whether or
// not the pointer is on its caption: such a frame never answers the hit test.
TWindow DesignerFrameUnderCursor(IWindowSystem& windows);

// Throws kElevatedDesignerMessage when the process of `frame` runs above
// this program's integrity level, kOtherAccountDesignerMessage when its
// token cannot be read; returns otherwise.
void RefuseDesignerOutOfReach(IWindowSystem& windows, TWindow frame);

// Whether `windows` are still the windows a capture found, the frame with the
// caption `caption` (Windows-1251) read then: the frame is a kMainFrameClass
// window with that caption, the configuration window lies below it with its
// class and caption, the tree lies below the configuration window with class
// kGridClass. Windows reuses the handle values of closed windows.
bool CapturedWindowsStillThere(IWindowSystem& system, const TDesignerWindows& windows, std::string_view caption);

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

// Everything that follows a hit on `frame`: refuses a Designer out of reach
// (RefuseDesignerOutOfReach), sets MainFrame, sends Alt+J, C,
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
// returns with TreeGrid unchanged. An attempt that finds no configuration
// window below the frame sends no key: it waits, for as long as its keys and
// sleeps would take, for the configuration window to appear, and goes on
// with its keys when it does. A frame without one may be a 1C:Enterprise
// user window, of the same class, where the menu keys would run a command.
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
// in front, it throws and sends nothing: kNoInputDesktopMessage when the
// input desktop is not ours, kNotInFrontMessage otherwise.
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
