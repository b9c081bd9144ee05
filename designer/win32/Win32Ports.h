#pragma once
// The Win32 side of the capture command's seams: each a few calls over the
// system functions the Designer is driven with. Windows only. The clipboard
// and the clock are platform::TWin32Clipboard and platform::TWin32Clock.

#include <windows.h>

#include "designer/DesignerAnswer.h"
#include "designer/DesignerPorts.h"
#include "designer/ObjectCapture.h"
#include "designer/WindowCapture.h"
#include "platform/Clipboard.h"
#include "platform/Win32Clipboard.h"

namespace designer {

// SendMessageTimeoutW with SMTO_NORMAL | SMTO_ABORTIFHUNG: true when the
// window's thread handled the message within `waitMs`.
bool SendWithin(HWND window, UINT message, WPARAM wp, LPARAM lp, std::uint32_t waitMs);

// The Designer's tree: each message handled before the next is sent, lParam
// 0, within the bound of `Answer` (AwaitAnswer, on `clock`). Characters go as
// WM_CHAR with their UTF-16 value (converted from Windows-1251) through
// SendMessageTimeoutW, so the Designer gets the same letter whatever the ANSI
// code page of the machine.
class TWin32TreeWindow : public ITreeWindow {
public:
    TWin32TreeWindow(HWND tree, platform::IClock& clock) : tree_(tree), clock_(&clock) {}
    void KeyDown(std::uint8_t vk) override;
    void Char(std::uint8_t code) override;
    // The clock the waits for an answer are measured on.
    void SetClock(platform::IClock& clock) { clock_ = &clock; }

    TAnswerPolicy Answer;

private:
    void Send(UINT message, WPARAM wp);

    HWND tree_;
    platform::IClock* clock_;
};

// keybd_event input and the keyboard layout of the calling thread.
class TWin32Keyboard : public IKeyboard {
public:
    void ActivateLayout(std::string_view klid) override;
    void KeyEvent(std::uint8_t vk, bool up) override;
};

// `window` told of every change to the clipboard (AddClipboardFormatListener)
// for the listener's lifetime: its WM_CLIPBOARDUPDATE ends a sleep of
// TWin32MessageClock at once, so that the capture's wait for the Designer's
// copy ends when the copy is there, not at the end of its next look's sleep.
class TClipboardListener {
public:
    explicit TClipboardListener(HWND window);
    ~TClipboardListener();
    TClipboardListener(const TClipboardListener&) = delete;
    TClipboardListener& operator=(const TClipboardListener&) = delete;

private:
    HWND window_;
};

// A clock whose sleeps answer the messages other programs send to this
// thread meanwhile. A program that owns the clipboard (the wizard, after
// putting a package key there) is sent WM_DESTROYCLIPBOARD by the next
// program that empties it; the Designer copying an object would wait for the
// answer for as long as a plain Sleep lasts, and the capture would fail.
// Posted messages stay queued, so no handler of this thread runs meanwhile;
// once asked, a sleep ends early when the clipboard changes.
// Its time is the performance counter's (platform::TWin32Clock), and while
// it exists the system timer runs at 1 ms (timeBeginPeriod): otherwise a
// wait of 1 ms, such as each look at the clipboard while the Designer
// copies, lasts a whole scheduler tick of 10 to 16 ms.
class TWin32MessageClock : public platform::IClock {
public:
    TWin32MessageClock();
    ~TWin32MessageClock() override;
    TWin32MessageClock(const TWin32MessageClock&) = delete;
    TWin32MessageClock& operator=(const TWin32MessageClock&) = delete;
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
    // From now on a sleep ends early when the clipboard changes: for the
    // build, whose sleeps all wait for a copy or a free clipboard (never for
    // the window capture's fixed sleeps).
    void WakeOnClipboardChange() { wakeOnClipboard_ = true; }

private:
    platform::TWin32Clock clock_;
    bool fineTimer_;
    bool wakeOnClipboard_ = false;
};

// The window system over user32 and the process token functions.
class TWin32WindowSystem : public IWindowSystem {
public:
    TWindow WindowUnderCursor(TScreenPoint& cursor) override;
    std::string ClassName(TWindow window) override;
    std::string Caption(TWindow window) override;
    std::uint32_t HitTest(TWindow window, TScreenPoint at) override;
    TScreenPoint ToWindowPoint(TWindow window, TScreenPoint physical) override;
    void EnumChildWindows(TWindow parent, const std::function<bool(TWindow)>& visit) override;
    void EnumWindows(const std::function<bool(TWindow)>& visit) override;
    bool IsDescendant(TWindow parent, TWindow window) override;
    TWindow FindChild(TWindow parent, std::string_view cls) override;
    bool SetForeground(TWindow window) override;
    bool ForegroundIsProcessOf(TWindow window) override;
    TProcessIntegrity IntegrityOf(TWindow window) override;
    std::optional<std::uint32_t> OwnIntegrity() override;
    bool InputDesktopIsOurs() override;
};

// The keyboard state of the thread that owns the configuration tree.
class TWin32TreeFocus : public ITreeFocus {
public:
    explicit TWin32TreeFocus(TWindow tree) : tree_(tree) {}
    TWindow Tree() override { return tree_; }
    TWindow TreeTopLevel() override;
    TGuiThreadState TreeThreadState() override;

private:
    TWindow tree_;
};

inline HWND ToHwnd(TWindow window) { return reinterpret_cast<HWND>(window); }
inline TWindow FromHwnd(HWND hwnd) { return reinterpret_cast<TWindow>(hwnd); }

// The Win32 ports of one build on the captured Designer's tree, owned
// together: the form and the console tool create one per build. Each
// object's copy keystroke goes only to the Designer in front (Keyboard
// guards Keys), and only while the tree has the Designer's keyboard focus
// (Focus). The clock's sleeps answer the messages other programs send
// meanwhile: the owner of the clipboard (the form, after a build) is asked
// to let go by the Designer's next copy while the capture waits.
class TWin32BuildPorts {
public:
    // `clipboardOwner`: the window that owns the clipboard once the key is put there.
    TWin32BuildPorts(TWindow tree, HWND clipboardOwner)
        : Tree(ToHwnd(tree), Clock),
          Keyboard(Keys, System, Clock, tree),
          Clipboard(clipboardOwner),
          Listener(clipboardOwner),
          Focus(tree),
          tree_(tree) {
        Clock.WakeOnClipboardChange();
    }
    TWin32BuildPorts(const TWin32BuildPorts&) = delete;
    TWin32BuildPorts& operator=(const TWin32BuildPorts&) = delete;

    // Brings the configuration tree to the front: the build's first step.
    void BringTreeToFront() { System.SetForeground(tree_); }
    // The capture's ports over these, with the caller's delay and log, its
    // clock when it wraps Clock, and how long the Designer may take to answer
    // (its stop question is asked while the build waits for an answer).
    TCapturePorts With(IDelayField& delay, ILogSink& log, platform::IClock* clock = nullptr,
                       const TAnswerPolicy& answer = {}) {
        platform::IClock& used = clock ? *clock : Clock;
        Tree.SetClock(used);
        Tree.Answer = answer;
        return {Tree, Keyboard, used, Clipboard, delay, log, &Focus, answer};
    }

    TWin32WindowSystem System;
    TWin32Keyboard Keys;
    TWin32MessageClock Clock;
    TWin32TreeWindow Tree;
    TForegroundKeyboard Keyboard;
    platform::TWin32Clipboard Clipboard;
    TClipboardListener Listener;
    TWin32TreeFocus Focus;

private:
    TWindow tree_;
};

}  // namespace designer
