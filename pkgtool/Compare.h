#pragma once
// The checks before a package ships: verify (does the package hold exactly
// what its comparison report says a build captures) and diff (what one
// package's content changes against another's). Both read packages as
// inspect does, streamed, and compare objects through records sorted on
// disk and digests of each item, so memory stays bounded whatever the size.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pkgtool {

// One way a package differs from what its report says it should hold.
struct TVerifyDifference {
    // "missing", "unexpected", "out of order", "missing format", "extra
    // format", "formats out of order", or "kind not carried" (an object of a
    // kind the package has no section for).
    std::string What;
    std::string Section;  // the section tag; "-" for a kind not carried
    std::string Path;     // Windows-1251: the tree path; for a kind not carried the full name as the report gives it
    std::string Format;   // the format of a format difference, else empty
};

class IVerifySink {
public:
    virtual ~IVerifySink() = default;
    // Kinds not carried first, in report order; then by section in document
    // order, by tree path (bytes) within a section.
    virtual void Difference(const TVerifyDifference& d) = 0;
    // Something worth knowing that is no difference (a missing agreement or description); UTF-8.
    virtual void Warning(const std::string& message) = 0;
    virtual void End(std::uint64_t reportObjects, std::uint64_t packageObjects, std::uint64_t differences) = 0;
};

// Walks `report` as a build does and compares what it captures with the
// package at `package` (opened with `key1251`, empty: the default password).
// True when they match. Throws text::TError when either cannot be read.
bool VerifyPackage(const std::filesystem::path& report, const std::filesystem::path& package, std::string_view key1251,
                   IVerifySink& sink);

std::unique_ptr<IVerifySink> VerifyTextPrinter(std::ostream& out);
std::unique_ptr<IVerifySink> VerifyJsonPrinter(std::ostream& out);

struct TFormatChange {
    std::string_view Name;
    std::uint64_t SizeBefore = 0;
    std::uint64_t SizeAfter = 0;
};

// An object added, removed or changed, keyed by its section and tree path;
// the n-th object of a path in one package is matched with the n-th of the
// same path in the other (Occurrence, from 1).
struct TObjectChange {
    enum class TKind { Added, Removed, Changed };
    TKind Kind = TKind::Changed;
    std::string Section;
    std::string Path;  // Windows-1251
    std::uint64_t Occurrence = 1;
    std::vector<TFormatChange> Formats;  // for Changed: the formats whose data differ
};

// The agreement or the description of both packages.
struct TTextChange {
    enum class TKind { Same, Changed, Added, Removed, Absent };  // Absent: in neither package
    TKind Kind = TKind::Absent;
    std::uint64_t SizeBefore = 0;
    std::uint64_t SizeAfter = 0;
};

struct TDiffSummary {
    std::uint64_t Added = 0, Removed = 0, Changed = 0;
    TTextChange Agreement, Description;
    bool Same() const;
};

class IDiffSink {
public:
    virtual ~IDiffSink() = default;
    // Each of the four sections in document order, before its changes.
    virtual void Section(std::string_view tag) = 0;
    // The section's changes by tree path (bytes), then occurrence.
    virtual void Change(const TObjectChange& change) = 0;
    virtual void End(const TDiffSummary& summary) = 0;
};

// Compares the content of the packages at `oldPath` and `newPath`, both read
// at once. True when it is the same. Throws text::TError when either cannot
// be read.
bool DiffPackages(const std::filesystem::path& oldPath, std::string_view oldKey1251,
                  const std::filesystem::path& newPath, std::string_view newKey1251, IDiffSink& sink);

std::unique_ptr<IDiffSink> DiffTextPrinter(std::ostream& out);
std::unique_ptr<IDiffSink> DiffJsonPrinter(std::ostream& out);

}  // namespace pkgtool
