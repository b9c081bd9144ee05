#pragma once
// The Win32 clipboard and clock behind the ports of Clipboard.h. Windows only.

#include <windows.h>

#include "platform/Clipboard.h"

namespace platform {

// Sleep, and the performance counter in milliseconds.
class TWin32Clock : public IClock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() override;
};

// The system clipboard, opened on behalf of `owner`, a window of this
// program (with no owner EmptyClipboard leaves the clipboard ownerless and
// SetClipboardData fails, so a writer must give one; a reader may not).
class TWin32Clipboard : public IClipboard {
public:
    explicit TWin32Clipboard(HWND owner = nullptr) : owner_(owner) {}
    std::uint32_t SequenceNumber() override;
    std::uint32_t RegisterFormat(std::string_view name) override;
    std::uintptr_t Owner() override;
    bool OwnerAnswers(std::uint32_t waitMs) override;
    bool IsFormatAvailable(std::uint32_t id) override;
    bool Open() override;
    void Close() override;
    bool ReadFormat(std::uint32_t id, const std::function<void(const char* data, std::size_t size)>& take) override;
    void SetText(const std::string& text1251) override;

private:
    HWND owner_;
};

}  // namespace platform
