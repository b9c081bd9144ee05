// Windows side of the platform layer (the wizard and the test tools).
#include "Platform.h"

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
// winbase.h maps ReplaceFile to ReplaceFileW under UNICODE, which would
// define platform::ReplaceFileW here and leave callers of
// platform::ReplaceFile unresolved at link time.
#undef ReplaceFile

#include <algorithm>
#include <vector>

#include "Faults.h"
#include "PlatformDetail.h"
#include "ScopedWin32.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace platform {
namespace {

const wchar_t* W(const fs::path& p) { return p.c_str(); }

[[noreturn]] void ThrowFileError(std::string_view pattern, const fs::path& path, DWORD code) {
    detail::ThrowFileError(pattern, path, static_cast<int>(code));
}

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

// A directory search handle, closed on every way out.
class TFindHandle {
public:
    explicit TFindHandle(HANDLE h) : handle_(h) {}
    ~TFindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
    }
    TFindHandle(const TFindHandle&) = delete;
    TFindHandle& operator=(const TFindHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

}  // namespace

TFile::TFile(TFile&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) { other.handle_ = nullptr; }

TFile& TFile::operator=(TFile&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) ::CloseHandle(H(handle_));
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = nullptr;
    }
    return *this;
}

TFile::~TFile() {
    if (handle_ != nullptr) ::CloseHandle(H(handle_));
}

TFile TFile::Create(const fs::path& path) {
    HANDLE h = ::CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowFileError("Cannot create file \"%s\". %s", path, ::GetLastError());
    TFile f;
    f.handle_ = h;
    f.path_ = path;
    return f;
}

TFile TFile::OpenRead(const fs::path& path) {
    HANDLE h = ::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowFileError("Cannot open file \"%s\". %s", path, ::GetLastError());
    TFile f;
    f.handle_ = h;
    f.path_ = path;
    return f;
}

std::size_t TFile::Write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(H(handle_), p + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

std::size_t TFile::Read(void* data, std::size_t size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(H(handle_), data, chunk, &got, nullptr))
        ThrowFileError("Cannot read file \"%s\". %s", path_, ::GetLastError());
    return got;
}

void TFile::Seek(std::uint64_t offset) {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(H(handle_), li, nullptr, FILE_BEGIN))
        ThrowFileError("Cannot read file \"%s\". %s", path_, ::GetLastError());
}

std::uint64_t TFile::Size() const {
    if (const int code = faults::Injected(faults::TOperation::FileSize, path_))
        ThrowFileError("Cannot read file \"%s\". %s", path_, static_cast<DWORD>(code));
    LARGE_INTEGER li;
    if (!::GetFileSizeEx(H(handle_), &li)) ThrowFileError("Cannot read file \"%s\". %s", path_, ::GetLastError());
    return static_cast<std::uint64_t>(li.QuadPart);
}

void TFile::SetSize(std::uint64_t size) {
    Seek(size);
    if (!::SetEndOfFile(H(handle_))) throw text::TError("Stream write error");
}

void TFile::Close() {
    if (handle_ == nullptr) return;
    const BOOL ok = ::CloseHandle(H(handle_));
    handle_ = nullptr;
    if (!ok) throw text::TError("Stream write error");
}

bool TFile::IsOpen() const { return handle_ != nullptr; }

std::string SystemErrorText(int code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                     nullptr);
    std::u16string msg;
    if (n != 0 && buffer != nullptr) msg.assign(reinterpret_cast<const char16_t*>(buffer), n);
    if (buffer != nullptr) ::LocalFree(buffer);
    if (msg.empty()) return "System error, code " + std::to_string(code);
    while (!msg.empty() && (msg.back() <= u' ' || msg.back() == u'.')) msg.pop_back();
    return text::Utf16ToCp1251(msg);
}

int LastErrorCode() { return static_cast<int>(::GetLastError()); }

std::optional<TFoundFile> FindFile(const fs::path& directory, std::u16string_view name, bool includeHidden) {
    const fs::path dir = directory.empty() ? fs::path(L".") : directory;
    const fs::path pattern = dir / L"*";
    // A directory that cannot be read is an error, never "no such file":
    // the writer skips a missing name silently, and an unreadable folder
    // must not turn into an archive without its entries.
    if (const int code = faults::Injected(faults::TOperation::ListDirectory, dir))
        ThrowFileError("Cannot open file \"%s\". %s", dir, static_cast<DWORD>(code));
    WIN32_FIND_DATAW fd;
    TFindHandle find(::FindFirstFileW(W(pattern), &fd));
    if (!find.Valid()) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return std::nullopt;  // an empty directory
        ThrowFileError("Cannot open file \"%s\". %s", dir, code);
    }
    std::vector<WIN32_FIND_DATAW> matches;
    do {
        const std::u16string_view onDisk(reinterpret_cast<const char16_t*>(fd.cFileName));
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0) continue;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0 && !includeHidden) continue;
        if (::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(onDisk.data()), static_cast<int>(onDisk.size()),
                                   reinterpret_cast<const wchar_t*>(name.data()), static_cast<int>(name.size()),
                                   TRUE) == CSTR_EQUAL)
            matches.push_back(fd);
    } while (::FindNextFileW(find.Get(), &fd));
    if (const DWORD code = ::GetLastError(); code != ERROR_NO_MORE_FILES)
        ThrowFileError("Cannot open file \"%s\". %s", dir, code);
    // The search data carry each file's status; an injected fault on it
    // counts like a failed status query.
    for (auto it = matches.begin(); it != matches.end();) {
        const DWORD code = static_cast<DWORD>(faults::Injected(faults::TOperation::FileStatus, dir / fs::path(it->cFileName)));
        if (code == ERROR_FILE_NOT_FOUND) it = matches.erase(it);
        else if (code != 0) ThrowFileError("Cannot open file \"%s\". %s", dir / fs::path(it->cFileName), code);
        else ++it;
    }
    if (matches.empty()) return std::nullopt;
    // NTFS holds one spelling per name; a case-sensitive directory may hold
    // more, and then the exact spelling wins.
    auto best = std::find_if(matches.begin(), matches.end(), [&](const WIN32_FIND_DATAW& m) {
        return std::u16string_view(reinterpret_cast<const char16_t*>(m.cFileName)) == name;
    });
    if (best == matches.end()) best = matches.begin();

    TFoundFile found;
    found.Name = reinterpret_cast<const char16_t*>(best->cFileName);
    found.FullPath = dir / fs::path(best->cFileName);
    found.Attributes = best->dwFileAttributes;
    found.Size = (static_cast<std::uint64_t>(best->nFileSizeHigh) << 32) | best->nFileSizeLow;
    // The local time that was in force at the file's time, not today's
    // offset: SystemTimeToTzSpecificLocalTime applies the rule of that date.
    SYSTEMTIME utc, local;
    if (::FileTimeToSystemTime(&best->ftLastWriteTime, &utc) &&
        ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        ToDosDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                      found.DosDate, found.DosTime);
    else
        ToDosDateTime(1980, 1, 1, 0, 0, 0, found.DosDate, found.DosTime);
    return found;
}

void FillRandom(void* data, std::size_t size) {
    unsigned char* p = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        const NTSTATUS status = ::BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) throw text::TError("Cannot get random bytes. " + SystemErrorText(static_cast<int>(status)));
        p += chunk;
        size -= chunk;
    }
}

fs::path TempDirectory() {
    const DWORD n = ::GetEnvironmentVariableW(L"TMP", nullptr, 0);
    if (n > 1) {
        std::wstring value(n, L'\0');
        const DWORD got = ::GetEnvironmentVariableW(L"TMP", value.data(), n);
        value.resize(got);
        if (!value.empty()) return fs::path(value);
    }
    wchar_t buffer[MAX_PATH + 2];
    const DWORD got = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (got > 0 && got <= MAX_PATH + 1) return fs::path(std::wstring(buffer, got));
    return fs::current_path();
}

int detail::MakePrivateDirectory(const fs::path& path) {
    // The new directory takes the permissions of its parent, the user's own
    // temporary directory. CreateDirectoryW fails on an existing name, so the
    // directory is ours.
    return ::CreateDirectoryW(W(path), nullptr) ? 0 : static_cast<int>(::GetLastError());
}

int detail::AlreadyExistsCode() { return ERROR_ALREADY_EXISTS; }

void ReplaceFile(const fs::path& from, const fs::path& to) {
    // An antivirus scanner or a sync client may hold either file for a
    // moment just after it was written or while it is looked at: that is
    // waited out for a bounded time before the error is the user's.
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (::MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return;
        const DWORD code = ::GetLastError();
        const bool busy = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
        if (!busy || ::GetTickCount64() - start >= kReplaceRetryMs) ThrowFileError("Cannot create file \"%s\". %s", to, code);
        ::Sleep(kReplaceRetryPauseMs);
    }
}

void CurrentDosDateTime(std::uint16_t& dosDate, std::uint16_t& dosTime) {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    ToDosDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, dosDate, dosTime);
}

}  // namespace platform

namespace platform {

void CopyTimeAndAttributes(const fs::path& from, const fs::path& to) {
    WIN32_FILE_ATTRIBUTE_DATA source;
    if (!::GetFileAttributesExW(W(from), GetFileExInfoStandard, &source))
        ThrowFileError("Cannot open file \"%s\". %s", from, ::GetLastError());
    {
        const TScopedHandle h(::CreateFileW(W(to), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.Valid()) ThrowFileError("Cannot create file \"%s\". %s", to, ::GetLastError());
        if (!::SetFileTime(h.Get(), nullptr, nullptr, &source.ftLastWriteTime))
            ThrowFileError("Cannot create file \"%s\". %s", to, ::GetLastError());
    }
    // Only the bits SetFileAttributes can set, and never hidden or system.
    constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD attributes = source.dwFileAttributes & kSettable;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileAttributesW(W(to), attributes))
        ThrowFileError("Cannot create file \"%s\". %s", to, ::GetLastError());
}

void RemoveTree(const fs::path& path) noexcept {
    // DeleteFile refuses a read-only file, so the bit is cleared first.
    std::error_code ec;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        const DWORD attributes = ::GetFileAttributesW(W(it->path()));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            ::SetFileAttributesW(W(it->path()), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

namespace {

std::uint64_t CreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

TProcessIdentity CurrentProcess() {
    return {static_cast<std::uint32_t>(::GetCurrentProcessId()), CreationTime(::GetCurrentProcess())};
}

bool IsRunning(const TProcessIdentity& process) {
    if (process.Id == 0) return true;
    const TScopedHandle h(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process.Id)));
    if (!h.Valid()) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such id; else no rights to ask
    DWORD exitCode = 0;
    const bool exited = ::GetExitCodeProcess(h.Get(), &exitCode) && exitCode != STILL_ACTIVE;
    const std::uint64_t started = CreationTime(h.Get());
    if (exited) return false;
    return process.StartTime == 0 || started == 0 || started == process.StartTime;
}

std::string NewGuidKey() {
    GUID guid;
    HRESULT hr = ::CoCreateGuid(&guid);
    if (FAILED(hr)) throw text::TError(SystemErrorText(static_cast<int>(hr)));
    LPOLESTR registryForm = nullptr;
    hr = ::StringFromCLSID(guid, &registryForm);
    if (FAILED(hr)) throw text::TError(SystemErrorText(static_cast<int>(hr)));
    std::u16string key(reinterpret_cast<const char16_t*>(registryForm));
    ::CoTaskMemFree(registryForm);
    // "{8-4-4-4-12}" without its braces.
    return text::Utf16ToCp1251(key.substr(1, key.size() - 2));
}

}  // namespace platform
