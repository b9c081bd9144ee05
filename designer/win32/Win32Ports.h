#pragma once
// The Win32 side of the capture command's seams and of the assembly's
// clipboard: each a few calls over the system functions the Designer is
// driven with. Windows only.

#include <windows.h>

#include "app/PackageAssembly.h"
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

// Sleep and GetTickCount64.
class TWin32Clock : public IClock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
};

// The system clipboard, read side.
class TWin32Clipboard : public IClipboard {
public:
    std::uint32_t SequenceNumber() override;
    std::uint32_t RegisterFormat(std::string_view name) override;
    bool IsFormatAvailable(std::uint32_t id) override;
    bool Open() override;
    void Close() override;
    bool ReadFormat(std::uint32_t id, const std::function<void(const char* data, std::size_t size)>& take) override;
};

// The clipboard, write side: empties it and puts one plain text there, owned
// by `owner` (a window of this program: with no owner EmptyClipboard leaves
// the clipboard ownerless and SetClipboardData fails). Retries opening for
// about a second while another program holds the clipboard; then throws
// "Cannot open clipboard".
class TWin32ClipboardText : public app::IClipboardText {
public:
    explicit TWin32ClipboardText(HWND owner) : owner_(owner) {}
    void SetText(const std::string& text1251) override;

private:
    HWND owner_;
};

}  // namespace designer
