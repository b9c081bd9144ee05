#include "designer/win32/Win32Ports.h"

#include <string>

namespace designer {

void TWin32TreeWindow::KeyDown(std::uint8_t vk) { ::SendMessageA(tree_, WM_KEYDOWN, vk, 0); }

void TWin32TreeWindow::Char(std::uint8_t code) { ::SendMessageA(tree_, WM_CHAR, code, 0); }

void TWin32Keyboard::ActivateLayout(std::string_view klid) {
    const std::string id(klid);
    if (HKL layout = ::LoadKeyboardLayoutA(id.c_str(), 0)) ::ActivateKeyboardLayout(layout, 0);
}

void TWin32Keyboard::KeyEvent(std::uint8_t vk, bool up) { ::keybd_event(vk, 0, up ? KEYEVENTF_KEYUP : 0, 0); }

}  // namespace designer
