#include "package/BuildFiles.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

namespace package::build_files {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kWorkPrefix = "1c82pkg-";
constexpr std::string_view kPendingPrefix = "~1c82pkg-";
constexpr std::string_view kPendingSuffix = ".tmp";
constexpr std::size_t kRandomDigits = 16;

std::string OwnerTag() {
    // Asked each time, not kept: a forked child is another process.
    const platform::TProcessIdentity self = platform::CurrentProcess();
    char start[17];
    std::snprintf(start, sizeof start, "%llx", static_cast<unsigned long long>(self.StartTime));
    return std::to_string(self.Id) + "-" + start + "-";
}

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f'); }

// "<id>-<start>-<16 hex>" with nothing before or after.
std::optional<platform::TProcessIdentity> ParseOwner(std::string_view s) {
    const std::size_t dash1 = s.find('-');
    if (dash1 == 0 || dash1 == std::string_view::npos || dash1 > 10) return std::nullopt;
    const std::size_t dash2 = s.find('-', dash1 + 1);
    if (dash2 == std::string_view::npos || dash2 == dash1 + 1 || dash2 - dash1 - 1 > 16) return std::nullopt;
    if (s.size() - dash2 - 1 != kRandomDigits) return std::nullopt;
    platform::TProcessIdentity owner;
    std::uint64_t id = 0;
    for (char c : s.substr(0, dash1)) {
        if (!IsDecimal(c)) return std::nullopt;
        id = id * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (id == 0 || id > 0xFFFFFFFFu) return std::nullopt;
    owner.Id = static_cast<std::uint32_t>(id);
    for (char c : s.substr(dash1 + 1, dash2 - dash1 - 1)) {
        if (!IsHex(c)) return std::nullopt;
        owner.StartTime = owner.StartTime * 16 + static_cast<std::uint64_t>(IsDecimal(c) ? c - '0' : c - 'a' + 10);
    }
    for (char c : s.substr(dash2 + 1))
        if (!IsHex(c)) return std::nullopt;
    return owner;
}

// Removes the entries of `folder` that `isLeftover` picks. Best effort.
template <typename TPredicate>
void RemoveIn(const fs::path& folder, TPredicate isLeftover) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        // Every name of ours is ASCII; any other name is not looked at.
        std::string name;
        for (const char16_t c : it->path().filename().u16string()) {
            if (c >= 0x80) {
                name.clear();
                break;
            }
            name += static_cast<char>(c);
        }
        const std::optional<platform::TProcessIdentity> owner = OwnerOf(name);
        if (!owner || platform::IsRunning(*owner)) continue;
        std::error_code kind;
        if (isLeftover(name, it->is_directory(kind))) platform::RemoveTree(it->path());
    }
}

}  // namespace

fs::path CreateWorkDirectory(const fs::path& temporaryDirectory) {
    return platform::CreateUniqueDirectory(temporaryDirectory, std::string(kWorkPrefix) + OwnerTag());
}

fs::path PendingPathFor(const fs::path& target) {
    // ASCII only, so the same on every platform.
    const std::string name =
        std::string(kPendingPrefix) + OwnerTag() + platform::RandomHex(kRandomDigits / 2) + std::string(kPendingSuffix);
    return target.parent_path() / fs::path(name);
}

std::optional<platform::TProcessIdentity> OwnerOf(std::string_view name) {
    if (name.substr(0, kPendingPrefix.size()) == kPendingPrefix && name.size() > kPendingPrefix.size() + kPendingSuffix.size() &&
        name.substr(name.size() - kPendingSuffix.size()) == kPendingSuffix)
        return ParseOwner(name.substr(kPendingPrefix.size(), name.size() - kPendingPrefix.size() - kPendingSuffix.size()));
    if (name.substr(0, kWorkPrefix.size()) == kWorkPrefix) return ParseOwner(name.substr(kWorkPrefix.size()));
    return std::nullopt;
}

void RemoveLeftovers(const fs::path& temporaryDirectory, const fs::path& targetFolder) {
    RemoveIn(temporaryDirectory, [](const std::string& name, bool directory) {
        return directory && name.substr(0, kWorkPrefix.size()) == kWorkPrefix;
    });
    RemoveIn(targetFolder.empty() ? fs::path(".") : targetFolder, [](const std::string& name, bool directory) {
        return !directory && name.substr(0, kPendingPrefix.size()) == kPendingPrefix;
    });
}

}  // namespace package::build_files
