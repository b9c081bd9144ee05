#pragma once
// The narrow seams through which the object capture reaches the Designer and
// the form: the Designer's tree window, the keyboard, the delay field and the
// log (the clock and the clipboard are platform ports). The Win32
// implementations (designer/win32) are a few lines each over SendMessageA,
// keybd_event and LoadKeyboardLayoutA/ActivateKeyboardLayout; tests give
// fakes. All texts are Windows-1251.

#include <cstdint>
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
