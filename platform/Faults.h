#pragma once
// A seam for tests: makes chosen system operations of this layer fail as if
// the system had refused them, with a given error code (errno on POSIX,
// GetLastError on Windows). The tests run with full rights, so a permission
// or device fault cannot be produced for real; through this seam they reach
// the same error paths. Nothing is injected unless a test asks.

#include <filesystem>
#include <string>

namespace platform::faults {

enum class TOperation {
    FileSize,       // TFile::Size
    ListDirectory,  // FindFile reading its directory
    FileStatus,     // FindFile reading one candidate's status
};

// From now on, `operation` on a path whose text contains `pathPart` (empty:
// every path) fails with `code`, until Clear.
void Inject(TOperation operation, int code, std::string pathPart = {});
void Clear();

// For the implementations: the code to fail `operation` on `path` with, or 0.
int Injected(TOperation operation, const std::filesystem::path& path);

// Injects for one scope, clears on every way out.
class TScopedFault {
public:
    TScopedFault(TOperation operation, int code, std::string pathPart = {}) {
        Inject(operation, code, std::move(pathPart));
    }
    ~TScopedFault() { Clear(); }
    TScopedFault(const TScopedFault&) = delete;
    TScopedFault& operator=(const TScopedFault&) = delete;
};

}  // namespace platform::faults
