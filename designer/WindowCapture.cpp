#include "designer/WindowCapture.h"

#include <initializer_list>

#include "designer/DesignerInterface.h"
#include "text/Error.h"

namespace designer {

namespace {

void Press(IKeyboard& keyboard, std::uint8_t vk) {
    keyboard.KeyEvent(vk, false);
    keyboard.KeyEvent(vk, true);
}

// The keys pressed in the order given and released in reverse.
void Chord(IKeyboard& keyboard, std::initializer_list<std::uint8_t> keys) {
    for (const std::uint8_t vk : keys) keyboard.KeyEvent(vk, false);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) keyboard.KeyEvent(*it, true);
}

// Both callbacks: the first window of the class and caption wins, and once
// the field is set the enumeration stops.
bool MatchLocalFrame(IWindowSystem& system, TWindow& field, TWindow window, std::string_view caption) {
    if (field != 0) return false;
    if (system.ClassName(window) == kLocalFrameClass && system.Caption(window) == caption) field = window;
    return field == 0;
}

void FindConfigurationWindow(TDesignerWindows& windows, IWindowSystem& system) {
    system.EnumChildWindows(windows.MainFrame, [&](TWindow w) { return EnumConfigurationWindowProc(system, windows, w); });
}

// Whether `window` still is the configuration window of `frame`: Windows
// reuses the handle values of closed windows.
bool IsConfigurationWindowOf(IWindowSystem& system, TWindow frame, TWindow window) {
    return system.IsDescendant(frame, window) && system.ClassName(window) == kLocalFrameClass &&
           system.Caption(window) == kConfigurationCaption;
}

void FindSearchWindow(TDesignerWindows& windows, IWindowSystem& system) {
    system.EnumWindows([&](TWindow w) { return EnumSearchWindowProc(system, windows, w); });
}

// Looks for the configuration window every kConfigurationPollMs for up to
// `patienceMs`; true as soon as it is found.
bool WaitForConfigurationWindow(TDesignerWindows& windows, const TWindowCapturePorts& ports, std::uint32_t patienceMs) {
    const std::uint64_t start = ports.Clock.NowMs();
    while (ports.Clock.NowMs() - start < patienceMs) {
        ports.Clock.Sleep(kConfigurationPollMs);
        FindConfigurationWindow(windows, ports.Windows);
        if (windows.ConfigurationWindow != 0) return true;
    }
    return false;
}

}  // namespace

TWindow DesignerFrameUnderCursor(IWindowSystem& windows) {
    TScreenPoint cursor;
    const TWindow window = windows.WindowUnderCursor(cursor);
    if (window == 0) return 0;
    // The hit test is a message, answered only when the window's program gets
    // to it: the class, which the system knows without asking, comes first,
    // so that crossing another busy program on the way costs nothing.
    if (windows.ClassName(window) != kMainFrameClass) return 0;
    // A Designer out of reach drops the hit test too: the wait would never end.
    RefuseDesignerOutOfReach(windows, window);
    // The cursor is in physical pixels; a DPI-unaware Designer hit-tests in
    // its own, virtualised ones, and the system converts the parameters only
    // of the messages it sends itself.
    const std::uint32_t hit = windows.HitTest(window, windows.ToWindowPoint(window, cursor));
    return hit == kHtCaption ? window : 0;
}

void RefuseDesignerOutOfReach(IWindowSystem& windows, TWindow frame) {
    const TProcessIntegrity designer = windows.IntegrityOf(frame);
    if (designer.TokenDenied) throw text::TError(std::string(kOtherAccountDesignerMessage));
    // A Designer above this program's integrity level drops every message and
    // key of ours without a word; the build would then fail and blame the delay.
    if (IntegrityAboveOurs(designer.Level, windows.OwnIntegrity()))
        throw text::TError(std::string(kElevatedDesignerMessage));
}

bool CapturedWindowsStillThere(IWindowSystem& system, const TDesignerWindows& windows, std::string_view caption) {
    if (windows.MainFrame == 0 || windows.TreeGrid == 0) return false;
    return system.ClassName(windows.MainFrame) == kMainFrameClass && system.Caption(windows.MainFrame) == caption &&
           IsConfigurationWindowOf(system, windows.MainFrame, windows.ConfigurationWindow) &&
           system.IsDescendant(windows.ConfigurationWindow, windows.TreeGrid) &&
           system.ClassName(windows.TreeGrid) == kGridClass;
}

TWindow FindDesignerFrame(IWindowSystem& windows, std::string_view captionPart) {
    TWindow found = 0;
    windows.EnumWindows([&](TWindow window) {
        if (windows.ClassName(window) != kMainFrameClass) return true;
        if (windows.Caption(window).find(captionPart) == std::string::npos) return true;
        found = window;
        return false;
    });
    return found;
}

bool IntegrityAboveOurs(std::optional<std::uint32_t> designer, std::optional<std::uint32_t> own) {
    return designer && own && *designer > *own;
}

TCaptureOutcome CaptureDesigner(TDesignerWindows& windows, TWindow frame, const TWindowCapturePorts& ports) {
    RefuseDesignerOutOfReach(ports.Windows, frame);

    windows.MainFrame = frame;
    TForegroundKeyboard keyboard(ports.Keyboard, ports.Windows, ports.Clock, frame);
    const TWindowCapturePorts guarded{ports.Windows, keyboard, ports.Clock};

    // Alt+J, C, Esc: closes whatever menu or dialog the Designer has open.
    Chord(keyboard, {kVkMenu, kVkJ});
    Press(keyboard, kVkC);
    Press(keyboard, kVkEscape);
    ports.Clock.Sleep(kAfterCaptureKeysWaitMs);

    TCaptureOutcome outcome;
    outcome.Caption = ports.Windows.Caption(frame);
    FindBase1CWindows(windows, guarded);
    outcome.Captured = windows.TreeGrid != 0;
    return outcome;
}

void FindBase1CWindows(TDesignerWindows& windows, const TWindowCapturePorts& ports) {
    IWindowSystem& system = ports.Windows;
    windows.SearchWindow = 0;
    // A configuration window found by an earlier capture stays only while it
    // is this Designer's: after another Designer was captured, or after the
    // window was closed, the build would otherwise type into another
    // configuration's tree, or into none, and the capture could never succeed.
    if (windows.ConfigurationWindow != 0 &&
        !IsConfigurationWindowOf(system, windows.MainFrame, windows.ConfigurationWindow)) {
        windows.ConfigurationWindow = 0;
        windows.TreeGrid = 0;
    }
    system.SetForeground(windows.MainFrame);
    if (windows.ConfigurationWindow == 0) FindConfigurationWindow(windows, system);

    Chord(ports.Keyboard, {kVkControl, kVkShift, kVkC});  // open the configuration window
    ports.Clock.Sleep(kOpenConfigurationWaitMs);

    for (int attempt = 0; attempt < kSearchWindowAttempts; ++attempt) {
        if (windows.ConfigurationWindow == 0) FindConfigurationWindow(windows, system);
        // Without a configuration window the keys below would go to the frame
        // itself; the same time is given to a slow Designer by waiting instead.
        if (windows.ConfigurationWindow == 0 &&
            !WaitForConfigurationWindow(windows, ports, kOpenSearchWaitMs + kSearchMenuWaitMs))
            continue;
        system.SetForeground(windows.ConfigurationWindow);
        Chord(ports.Keyboard, {kVkControl, kVkF});  // search from the configuration window
        ports.Clock.Sleep(kOpenSearchWaitMs);
        FindSearchWindow(windows, system);
        if (windows.SearchWindow == 0) {
            // The second way in: the menu's search command from the frame.
            system.SetForeground(windows.MainFrame);
            Chord(ports.Keyboard, {kVkControl, kVkF10});
            Press(ports.Keyboard, kVkRight);
            Press(ports.Keyboard, kVkRight);
            Press(ports.Keyboard, kVkReturn);
            ports.Clock.Sleep(kSearchMenuWaitMs);
        }
        FindSearchWindow(windows, system);
        if (windows.SearchWindow != 0) break;
    }
    if (windows.SearchWindow == 0) return;

    Chord(ports.Keyboard, {kVkControl, kVkInsert});
    ports.Clock.Sleep(kProbeSearchWaitMs);
    Press(ports.Keyboard, kVkEscape);  // closes the search window
    if (windows.ConfigurationWindow != 0) windows.TreeGrid = FindTreeGrid(system, windows.ConfigurationWindow);
}

bool EnumConfigurationWindowProc(IWindowSystem& system, TDesignerWindows& windows, TWindow window) {
    return MatchLocalFrame(system, windows.ConfigurationWindow, window, kConfigurationCaption);
}

bool EnumSearchWindowProc(IWindowSystem& system, TDesignerWindows& windows, TWindow window) {
    return MatchLocalFrame(system, windows.SearchWindow, window, kSearchCaption);
}

TWindow FindTreeGrid(IWindowSystem& system, TWindow configuration) {
    TWindow window = configuration;
    for (const std::string_view cls : {kTabsWindowClass, kFormElementClass, kGridClass}) {
        window = system.FindChild(window, cls);
        if (window == 0) return 0;
    }
    return window;
}

void TForegroundKeyboard::KeyEvent(std::uint8_t vk, bool up) {
    if (!up && held_.empty()) EnsureDesignerInFront();
    inner_.KeyEvent(vk, up);
    if (up)
        held_.erase(vk);
    else
        held_.insert(vk);
}

void TForegroundKeyboard::EnsureDesignerInFront() {
    if (windows_.ForegroundIsProcessOf(front_)) return;
    // Activation of another process's window may take effect a little later,
    // or be undone by a window activated meanwhile: asked again at each look.
    const std::uint64_t start = clock_.NowMs();
    for (;;) {
        windows_.SetForeground(front_);
        if (windows_.ForegroundIsProcessOf(front_)) return;
        if (clock_.NowMs() - start >= kForegroundPatienceMs) {
            // A locked workstation, a UAC prompt or a minimised remote session
            // refuses every window; the user can do nothing about it here but
            // end that state.
            if (!windows_.InputDesktopIsOurs()) throw text::TError(std::string(kNoInputDesktopMessage));
            throw text::TError(std::string(kNotInFrontMessage));
        }
        clock_.Sleep(kForegroundPollMs);
    }
}

}  // namespace designer
