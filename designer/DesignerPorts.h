#pragma once
// The narrow seams through which the object capture reaches the outside world:
// the Designer's tree window, the keyboard, the clock, the clipboard, the delay
// field and the log. The Win32 implementations are a few lines each over
// SendMessageA, keybd_event, LoadKeyboardLayoutA/ActivateKeyboardLayout,
// Sleep/GetTickCount64 and the clipboard functions; tests give fakes.
// All texts are Windows-1251.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Time. Sleep blocks the calling thread; NowMs is a monotonic millisecond
// count (GetTickCount64).
class IClock {
public:
    virtual ~IClock() = default;
    virtual void Sleep(std::uint32_t ms) = 0;
    virtual std::uint64_t NowMs() = 0;
};

// The system clipboard.
class IClipboard {
public:
    virtual ~IClipboard() = default;
    // GetClipboardSequenceNumber: changes whenever the contents change.
    virtual std::uint32_t SequenceNumber() = 0;
    // The identifier of a named format (RegisterClipboardFormatA): the same
    // name gives the same identifier. The predefined formats are not asked.
    virtual std::uint32_t RegisterFormat(std::string_view name) = 0;
    // IsClipboardFormatAvailable; needs no open clipboard.
    virtual bool IsFormatAvailable(std::uint32_t id) = 0;
    // OpenClipboard(nullptr), one attempt: false while another window holds it.
    virtual bool Open() = 0;
    // CloseClipboard; only after a successful Open.
    virtual void Close() = 0;
    // With the clipboard open: when it holds data in format `id`, calls `take`
    // once with the locked block (GlobalLock, GlobalSize) and returns true;
    // otherwise returns false without calling it. The block is valid only
    // during the call and is unlocked afterwards, also when `take` throws.
    virtual bool ReadFormat(std::uint32_t id,
                            const std::function<void(const char* data, std::size_t size)>& take) = 0;
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
