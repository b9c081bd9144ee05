#pragma once
// The system clipboard and the clock, as ports: the build reads the
// Designer's copies through them and puts the package key there when a
// package is written. The Win32 implementations are Clipboard_win32.cpp;
// tests give fakes. All texts are Windows-1251.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Time. Sleep blocks the calling thread; NowMs is a monotonic millisecond count.
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
    // GetClipboardOwner: the window that owns the contents, 0 for none.
    virtual std::uintptr_t Owner() = 0;
    // SendMessageTimeoutW WM_NULL to the owner, SMTO_ABORTIFHUNG, waiting at
    // most `waitMs`: whether it answered. True when there is no owner. An
    // owner that renders its formats only when they are asked for must
    // answer, or reading would wait for it for the system's 30 s.
    virtual bool OwnerAnswers(std::uint32_t waitMs) = 0;
    // IsClipboardFormatAvailable; needs no open clipboard.
    virtual bool IsFormatAvailable(std::uint32_t id) = 0;
    // OpenClipboard, one attempt: false while another window holds it.
    virtual bool Open() = 0;
    // CloseClipboard; only after a successful Open.
    virtual void Close() = 0;
    // With the clipboard open: when it holds data in format `id`, calls `take`
    // once with the locked block (GlobalLock, GlobalSize) and returns true;
    // otherwise returns false without calling it. The block is valid only
    // during the call and is unlocked afterwards, also when `take` throws.
    virtual bool ReadFormat(std::uint32_t id,
                            const std::function<void(const char* data, std::size_t size)>& take) = 0;
    // With the clipboard open: empties it and puts `text1251` there as plain
    // text. Throws text::TError "Cannot set clipboard data".
    virtual void SetText(const std::string& text1251) = 0;
};

// How long and how often the clipboard is asked for while another program
// (a clipboard manager, a remote-desktop client, the Designer writing its
// copy) holds it.
inline constexpr std::uint32_t kClipboardOpenPatienceMs = 1000;
inline constexpr std::uint32_t kClipboardOpenRetryMs = 10;

// Opens the clipboard, trying again every kClipboardOpenRetryMs for up to
// kClipboardOpenPatienceMs; then throws text::TError "Cannot open clipboard".
void OpenClipboard(IClipboard& clipboard, IClock& clock);

// The clipboard open for one scope (OpenClipboard), closed on every way out.
class TClipboardOpen {
public:
    TClipboardOpen(IClipboard& clipboard, IClock& clock);
    ~TClipboardOpen();
    TClipboardOpen(const TClipboardOpen&) = delete;
    TClipboardOpen& operator=(const TClipboardOpen&) = delete;

private:
    IClipboard& clipboard_;
};

// Opens the clipboard (OpenClipboard), empties it, puts `text1251` there and
// closes it.
void PutClipboardText(IClipboard& clipboard, IClock& clock, const std::string& text1251);

}  // namespace platform
