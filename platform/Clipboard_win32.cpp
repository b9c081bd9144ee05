// The Win32 clipboard and clock.
#include "Win32Clipboard.h"

#include <cstring>
#include <string>

#include "text/Codepage.h"
#include "text/Error.h"

namespace platform {

void TWin32Clock::Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint64_t TWin32Clock::NowMs() {
    // The performance counter, not the tick count: GetTickCount64 moves in
    // 10-16 ms steps, far too coarse for a delay of 10 or 20 ms.
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);  // never fails on Windows XP and later
        return static_cast<std::uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    const std::uint64_t ticks = static_cast<std::uint64_t>(counter.QuadPart);
    // Split so that ticks * 1000 cannot overflow after a long uptime.
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

std::uint32_t TWin32Clipboard::SequenceNumber() { return ::GetClipboardSequenceNumber(); }

std::uint32_t TWin32Clipboard::RegisterFormat(std::string_view name) {
    return ::RegisterClipboardFormatA(std::string(name).c_str());
}

std::uintptr_t TWin32Clipboard::Owner() { return reinterpret_cast<std::uintptr_t>(::GetClipboardOwner()); }

bool TWin32Clipboard::OwnerAnswers(std::uint32_t waitMs) {
    HWND owner = ::GetClipboardOwner();
    if (owner == nullptr) return true;
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, waitMs, &result) != 0;
}

bool TWin32Clipboard::IsFormatAvailable(std::uint32_t id) { return ::IsClipboardFormatAvailable(id) != FALSE; }

bool TWin32Clipboard::Open() { return ::OpenClipboard(owner_) != FALSE; }

void TWin32Clipboard::Close() { ::CloseClipboard(); }

namespace {

// GlobalLock for one scope: the block is unlocked on every way out.
class TGlobalLock {
public:
    explicit TGlobalLock(HGLOBAL h) : handle_(h), data_(::GlobalLock(h)) {}
    ~TGlobalLock() {
        if (data_ != nullptr) ::GlobalUnlock(handle_);
    }
    TGlobalLock(const TGlobalLock&) = delete;
    TGlobalLock& operator=(const TGlobalLock&) = delete;
    void* Data() const { return data_; }

private:
    HGLOBAL handle_;
    void* data_;
};

}  // namespace

bool TWin32Clipboard::ReadFormat(std::uint32_t id, const std::function<void(const char*, std::size_t)>& take) {
    HANDLE h = ::GetClipboardData(id);
    if (h == nullptr) return false;
    TGlobalLock lock(h);
    if (lock.Data() == nullptr) return false;
    // GlobalSize is the block's size, which may exceed what the owner wrote
    // but never the memory that may be read.
    take(static_cast<const char*>(lock.Data()), ::GlobalSize(h));
    return true;
}

namespace {

// Puts a copy of `size` bytes on the open clipboard in `format`.
void PutBlock(UINT format, const void* data, std::size_t size) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr) throw text::TError("Cannot set clipboard data");
    {
        TGlobalLock lock(block);
        if (lock.Data() == nullptr) {
            ::GlobalFree(block);
            throw text::TError("Cannot set clipboard data");
        }
        std::memcpy(lock.Data(), data, size);
    }
    // On success the system owns the block; on failure it stays ours.
    if (::SetClipboardData(format, block) == nullptr) {
        ::GlobalFree(block);
        throw text::TError("Cannot set clipboard data");
    }
}

}  // namespace

void TWin32Clipboard::SetText(const std::string& text1251) {
    // The text goes in three formats. CF_UNICODETEXT is converted with the
    // fixed Windows-1251 table, so it is right whatever the machine's ANSI
    // code page. CF_TEXT carries the Windows-1251 bytes themselves: left to
    // the system, it would be made from the Unicode text in the thread's
    // input language, and a key with Cyrillic letters would paste as "?"
    // into programs that read CF_TEXT while an English layout is active.
    // CF_LOCALE Russian tells readers which code page CF_TEXT is in.
    const std::u16string wide = text::Cp1251ToUtf16(text1251);
    const LCID russian = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), SORT_DEFAULT);

    ::EmptyClipboard();
    PutBlock(CF_UNICODETEXT, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    PutBlock(CF_TEXT, text1251.c_str(), text1251.size() + 1);
    PutBlock(CF_LOCALE, &russian, sizeof russian);
    // The text is a password: the documented marks keep it out of the
    // clipboard history and the cloud clipboard of Windows 10 and 11 (and out
    // of clipboard monitors that honour them); it stays pasteable.
    const DWORD no = 0;
    PutBlock(::RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing"), &no, sizeof no);
    PutBlock(::RegisterClipboardFormatW(L"CanIncludeInClipboardHistory"), &no, sizeof no);
    PutBlock(::RegisterClipboardFormatW(L"CanUploadToCloudClipboard"), &no, sizeof no);
}

}  // namespace platform
