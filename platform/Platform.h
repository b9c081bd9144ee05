#pragma once
// The operating system seen by the portable core: files, the directory
// search of the ZIP writer, the temporary directory, randomness. One header,
// two implementations (Platform_win32.cpp, Platform_posix.cpp); CMake picks one.
// Errors are text::TError with the system's own wording.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

namespace fs = std::filesystem;

// Windows file attribute bits, as the ZIP central directory stores them.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

// An open file, closed by the destructor. Move-only.
class TFile {
public:
    TFile() = default;
    TFile(TFile&& other) noexcept;
    TFile& operator=(TFile&& other) noexcept;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    ~TFile();

    // A new file, or an existing one truncated to 0; read/write, shared with
    // nobody while open. Throws `Cannot create file "%s". %s`.
    static TFile Create(const fs::path& path);
    // An existing file for reading. Throws `Cannot open file "%s". %s`.
    static TFile OpenRead(const fs::path& path);

    // Writes up to `size` bytes; returns how many were written (fewer only on
    // an error such as a full disk).
    std::size_t Write(const void* data, std::size_t size);
    // Writes all bytes or throws "Stream write error".
    void WriteAll(const void* data, std::size_t size);
    // Reads up to `size` bytes; 0 at the end. Throws `Cannot read file "%s". %s`.
    std::size_t Read(void* data, std::size_t size);
    // Moves the file position to `offset` from the start. Throws on failure.
    void Seek(std::uint64_t offset);
    // The file's size in bytes. Throws `Cannot read file "%s". %s` when the
    // system cannot tell it (never a size of 0 instead).
    std::uint64_t Size() const;
    // Cuts the file to `size` bytes (or extends it with zeros) and moves the
    // file position there. Throws "Stream write error".
    void SetSize(std::uint64_t size);
    // Closes the file; safe to call twice. Throws "Stream write error" when
    // the system reports that buffered data could not be written.
    void Close();
    bool IsOpen() const;
    const fs::path& Path() const { return path_; }

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    fs::path path_;
};

// The system's text for an error code (errno on POSIX, GetLastError on
// Windows) in Windows-1251, with trailing blanks, control characters and
// periods removed.
std::string SystemErrorText(int code);
// The code of the last failed system call on this thread.
int LastErrorCode();
// `path` made absolute against the current directory, as Windows-1251 text.
std::string FullPath1251(const fs::path& path);

// One file found by FindFile.
struct TFoundFile {
    fs::path FullPath;
    std::u16string Name;          // the name as it is on disk, no directory part
    std::uint32_t Attributes = 0; // kAttr* bits
    std::uint16_t DosTime = 0;    // last write, local time, MS-DOS format
    std::uint16_t DosDate = 0;
    std::uint64_t Size = 0;
};

// Looks `name` up in `directory` case-insensitively, as Windows does. Skips
// directories, system files always and hidden files unless `includeHidden`
// (on POSIX a name starting with "." is hidden and no file is "system").
// An exact-case match wins over other spellings. Nothing found: nullopt.
// A directory that cannot be read, or a file whose status cannot be read
// for any reason but its absence, throws `Cannot open file "%s". %s`.
std::optional<TFoundFile> FindFile(const fs::path& directory, std::u16string_view name, bool includeHidden);

// MS-DOS date and time of a local broken-down time; years before 1980 clamp
// to 1980-01-01 00:00:00, seconds are rounded down to an even number.
void ToDosDateTime(int year, int month, int day, int hour, int minute, int second,
                   std::uint16_t& dosDate, std::uint16_t& dosTime);

// MS-DOS date and time of this moment in local time, as a file written now
// would carry it.
void CurrentDosDateTime(std::uint16_t& dosDate, std::uint16_t& dosTime);

#ifdef _WIN32
// A new package key: a GUID from CoCreateGuid in the registry form of
// StringFromCLSID without its braces, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
// (36 characters, upper-case hexadecimal). Throws text::TError with the
// system's text when either call fails.
std::string NewGuidKey();
#endif

// Fills `data` from the operating system's CSPRNG (BCryptGenRandom,
// getrandom). Throws if the system cannot deliver.
void FillRandom(void* data, std::size_t size);

// `bytes` random bytes from FillRandom as lower-case hexadecimal digits: a
// name part that nobody can guess.
std::string RandomHex(std::size_t bytes);

// The temporary directory: the "TMP" environment variable when it is set and
// not empty, else the system's temporary directory.
fs::path TempDirectory();

// Creates a new directory under `parent` with a unique name starting with
// `prefix`, exclusively (never an existing one), private to the user where
// the system allows. Throws `Cannot create file "%s". %s` on failure.
fs::path CreateUniqueDirectory(const fs::path& parent, std::string_view prefix);

// Gives `to` the last-write time and the attribute bits of `from`, as a
// system file copy would, except the hidden and system bits: those would
// make the ZIP writer skip the file. On POSIX the attribute is the read-only
// bit (no write permission for the owner). Throws `Cannot create file
// "%s". %s` naming `to`, or `Cannot open file "%s". %s` naming `from`.
void CopyTimeAndAttributes(const fs::path& from, const fs::path& to);

// Removes `path` with everything in it, clearing the read-only attribute
// where the system would refuse to delete such a file. Never throws; what
// cannot be removed stays.
void RemoveTree(const fs::path& path) noexcept;

// A process, told apart from a later one that reuses its id by the time it
// started (in the system's own units; 0: unknown).
struct TProcessIdentity {
    std::uint32_t Id = 0;
    std::uint64_t StartTime = 0;
};

// This process.
TProcessIdentity CurrentProcess();

// False only when `process` is certainly gone: no running process has its
// id, or the one that has it now started at another time. When the system
// does not tell (no rights to ask, an unknown start time), true.
bool IsRunning(const TProcessIdentity& process);

// How long ReplaceFile keeps trying, on Windows, while another program holds
// one of the files (sharing, lock or access errors), and how often.
inline constexpr std::uint32_t kReplaceRetryMs = 1000;
inline constexpr std::uint32_t kReplaceRetryPauseMs = 50;

// Renames `from` to `to`, replacing `to` atomically where the system can.
// Throws `Cannot create file "%s". %s` naming `to`.
void ReplaceFile(const fs::path& from, const fs::path& to);

}  // namespace platform
