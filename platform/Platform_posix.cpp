// POSIX side of the platform layer (native builds, tests, the companion CLI).
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include "Faults.h"
#include "PlatformDetail.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace platform {

using detail::ThrowFileError;

TFile::TFile(TFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

TFile& TFile::operator=(TFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

TFile::~TFile() {
    if (fd_ >= 0) ::close(fd_);
}

TFile TFile::Create(const fs::path& path) {
    TFile f;
    f.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (f.fd_ < 0) ThrowFileError("Cannot create file \"%s\". %s", path, errno);
    f.path_ = path;
    return f;
}

TFile TFile::OpenRead(const fs::path& path) {
    TFile f;
    f.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd_ < 0) ThrowFileError("Cannot open file \"%s\". %s", path, errno);
    struct stat st;
    if (::fstat(f.fd_, &st) == 0 && S_ISDIR(st.st_mode)) ThrowFileError("Cannot open file \"%s\". %s", path, EISDIR);
    f.path_ = path;
    return f;
}

std::size_t TFile::Write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFile::Read(void* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, data, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) ThrowFileError("Cannot read file \"%s\". %s", path_, errno);
    }
}

void TFile::Seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        ThrowFileError("Cannot read file \"%s\". %s", path_, errno);
}

std::uint64_t TFile::Size() const {
    if (const int code = faults::Injected(faults::TOperation::FileSize, path_))
        ThrowFileError("Cannot read file \"%s\". %s", path_, code);
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowFileError("Cannot read file \"%s\". %s", path_, errno);
    return static_cast<std::uint64_t>(st.st_size);
}

void TFile::SetSize(std::uint64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw text::TError("Stream write error");
    Seek(size);
}

void TFile::Close() {
    if (fd_ < 0) return;
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) throw text::TError("Stream write error");
}

bool TFile::IsOpen() const { return fd_ >= 0; }

std::string SystemErrorText(int code) {
    char buf[256];
    std::string msg;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    msg = ::strerror_r(code, buf, sizeof buf);
#else
    if (::strerror_r(code, buf, sizeof buf) == 0) msg = buf;
    else msg = "Unknown error " + std::to_string(code);
#endif
    while (!msg.empty()) {
        const unsigned char c = static_cast<unsigned char>(msg.back());
        if (c <= ' ' || c == '.') msg.pop_back();
        else break;
    }
    // The C library's messages are UTF-8 in a Russian locale; the system's
    // texts are Windows-1251.
    return text::Utf8ToCp1251(msg);
}

int LastErrorCode() { return errno; }

std::optional<TFoundFile> FindFile(const fs::path& directory, std::u16string_view name, bool includeHidden) {
    std::error_code ec;
    const fs::path dir = directory.empty() ? fs::path(".") : directory;
    std::vector<std::u16string> candidates;
    // A directory that cannot be read is an error, never "no such file":
    // the writer skips a missing name silently, and an unreadable folder
    // must not turn into an archive without its entries.
    if (const int code = faults::Injected(faults::TOperation::ListDirectory, dir))
        ThrowFileError("Cannot open file \"%s\". %s", dir, code);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::u16string onDisk = it->path().filename().u16string();
        if (text::EqualsIgnoreCase(onDisk, name)) candidates.push_back(std::move(onDisk));
    }
    if (ec) ThrowFileError("Cannot open file \"%s\". %s", dir, ec.value());
    // Exact spelling first, then a stable order, so the same directory always
    // gives the same answer.
    std::sort(candidates.begin(), candidates.end(), [&](const std::u16string& a, const std::u16string& b) {
        const bool ea = a == name, eb = b == name;
        return ea != eb ? ea : a < b;
    });
    for (const std::u16string& candidate : candidates) {
        const fs::path full = dir / fs::path(candidate);
        struct stat st;
        int code = faults::Injected(faults::TOperation::FileStatus, full);
        if (code == 0 && ::stat(full.c_str(), &st) != 0) code = errno;
        // Gone since the listing (or a dangling link): not there. Any other
        // failure is the system's error.
        if (code == ENOENT) continue;
        if (code != 0) ThrowFileError("Cannot open file \"%s\". %s", full, code);
        if (!S_ISREG(st.st_mode)) continue;
        std::uint32_t attributes = kAttrArchive;
        if (!candidate.empty() && candidate[0] == u'.') attributes |= kAttrHidden;
        if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
        if ((attributes & kAttrHidden) && !includeHidden) continue;
        TFoundFile found;
        found.FullPath = full;
        found.Name = candidate;
        found.Attributes = attributes;
        found.Size = static_cast<std::uint64_t>(st.st_size);
        struct tm local;
        const time_t mtime = st.st_mtime;
        if (::localtime_r(&mtime, &local) != nullptr)
            ToDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, found.DosDate, found.DosTime);
        else
            ToDosDateTime(1980, 1, 1, 0, 0, 0, found.DosDate, found.DosTime);
        return found;
    }
    return std::nullopt;
}

void FillRandom(void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw text::TError("Cannot get random bytes. " + SystemErrorText(errno));
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

fs::path TempDirectory() {
    const char* tmp = std::getenv("TMP");
    if (tmp != nullptr && *tmp != '\0') return fs::path(tmp);
    std::error_code ec;
    fs::path p = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : p;
}

int detail::MakePrivateDirectory(const fs::path& path) { return ::mkdir(path.c_str(), 0700) == 0 ? 0 : errno; }

int detail::AlreadyExistsCode() { return EEXIST; }

void ReplaceFile(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowFileError("Cannot create file \"%s\". %s", to, errno);
}

void CurrentDosDateTime(std::uint16_t& dosDate, std::uint16_t& dosTime) {
    const time_t now = ::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local) != nullptr)
        ToDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec, dosDate, dosTime);
    else
        ToDosDateTime(1980, 1, 1, 0, 0, 0, dosDate, dosTime);
}

}  // namespace platform

namespace platform {

void CopyTimeAndAttributes(const fs::path& from, const fs::path& to) {
    struct stat st;
    if (::stat(from.c_str(), &st) != 0) ThrowFileError("Cannot open file \"%s\". %s", from, errno);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0) ThrowFileError("Cannot create file \"%s\". %s", to, errno);
    if ((st.st_mode & S_IWUSR) == 0) {
        struct stat copy;
        if (::stat(to.c_str(), &copy) != 0 || ::chmod(to.c_str(), copy.st_mode & 07555) != 0)
            ThrowFileError("Cannot create file \"%s\". %s", to, errno);
    }
}

void RemoveTree(const fs::path& path) noexcept {
    // A read-only file goes with its folder on POSIX; nothing to clear.
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

namespace {

// The state letter and start time (clock ticks since boot) of a process,
// from /proc/<id>/stat; nullopt when it cannot be read.
struct TProcStat {
    char State = '?';
    std::uint64_t StartTime = 0;
};

std::optional<TProcStat> ReadProcStat(std::uint32_t id) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(id) + "/stat").c_str(), "r");
    if (f == nullptr) return std::nullopt;
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = '\0';
    // "<id> (<name>) <state> ..."; the name may hold blanks and ')', so the
    // fields are counted from the last ')'. The start time is field 22.
    const char* p = std::strrchr(buffer, ')');
    if (p == nullptr) return std::nullopt;
    TProcStat stat;
    int field = 2;
    for (++p; *p != '\0' && field < 22; ++p) {
        if (*p != ' ') continue;
        ++field;
        if (field == 3) stat.State = p[1];
    }
    if (field != 22) return std::nullopt;
    stat.StartTime = std::strtoull(p, nullptr, 10);
    return stat;
}

}  // namespace

TProcessIdentity CurrentProcess() {
    TProcessIdentity self;
    self.Id = static_cast<std::uint32_t>(::getpid());
    if (const auto stat = ReadProcStat(self.Id)) self.StartTime = stat->StartTime;
    return self;
}

bool IsRunning(const TProcessIdentity& process) {
    if (process.Id == 0) return true;
    if (::kill(static_cast<pid_t>(process.Id), 0) != 0 && errno == ESRCH) return false;
    const auto stat = ReadProcStat(process.Id);
    if (!stat) return true;
    // A killed process that its parent has not yet waited for still has
    // its id, but it will never run again.
    if (stat->State == 'Z' || stat->State == 'X') return false;
    return process.StartTime == 0 || stat->StartTime == 0 || stat->StartTime == process.StartTime;
}

}  // namespace platform
