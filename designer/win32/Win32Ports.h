#pragma once
// The Win32 side of the capture command's seams: each a few calls over the
// system functions the Designer is driven with. Windows only. The clipboard
// and the clock are platform::TWin32Clipboard and platform::TWin32Clock.

#include <windows.h>

#include "designer/DesignerPorts.h"

namespace designer {

// The Designer's tree: synchronous SendMessageA, lParam 0.
class TWin32TreeWindow : public ITreeWindow {
public:
    explicit TWin32TreeWindow(HWND tree) : tree_(tree) {}
    void KeyDown(std::uint8_t vk) override;
    void Char(std::uint8_t code) override;

private:
    HWND tree_;
};

// keybd_event input and the keyboard layout of the calling thread.
class TWin32Keyboard : public IKeyboard {
public:
    void ActivateLayout(std::string_view klid) override;
    void KeyEvent(std::uint8_t vk, bool up) override;
};

}  // namespace designer
