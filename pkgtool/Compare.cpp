#include "Compare.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <ostream>
#include <system_error>
#include <thread>
#include <tuple>

#include "Inspect.h"
#include "SortedRecords.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace pkgtool {
namespace {

namespace fs = std::filesystem;

// The section tags in document order; a record keeps the index.
constexpr std::string_view kSectionTags[] = {package::kCommonModulesTag, package::kDirectoriesTag,
                                             package::kProcessingsTag, package::kSubsystemsTag};
constexpr std::size_t kSectionCount = std::size(kSectionTags);

// The formats a package knows, as the kind table names them; a record keeps the index.
constexpr std::string_view kFormatNames[] = {package::kFormatText,     package::kFormatUnicodeText,
                                             package::kFormatMd8Data,  package::kFormatMd8ExternalData,
                                             package::kFormatMd8Info,  package::kFormatMngCmdObjects};

template <std::size_t N>
std::uint8_t IndexOf(const std::string_view (&names)[N], std::string_view name) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name) return static_cast<std::uint8_t>(i);
    throw text::TError("An unknown section or format: " + std::string(name));
}

std::uint8_t SectionIndex(const package::TObjectKind& kind) {
    using D = package::TPackageDocument;
    if (kind.Section == &D::CommonModules) return 0;
    if (kind.Section == &D::Directories) return 1;
    if (kind.Section == &D::Processings) return 2;
    return 3;
}

struct TFormatRecord {
    std::uint8_t Format = 0;  // index in kFormatNames
    std::uint64_t Size = 0;
    std::uint64_t Hash = 0;
    bool operator==(const TFormatRecord&) const = default;
};

// One object of a report or a package: where it stands and what it holds.
struct TObjectRecord {
    std::uint8_t Section = 0;  // index in kSectionTags
    std::string Path;          // the tree path, Windows-1251
    std::uint64_t Seq = 0;     // its place among its section's objects, in report or document order
    std::vector<TFormatRecord> Formats;

    std::size_t Bytes() const { return sizeof(*this) + Path.capacity() + Formats.capacity() * sizeof(TFormatRecord) + 32; }
    void Write(std::string& out) const {
        out += static_cast<char>(Section);
        PutString(out, Path);
        PutU64(out, Seq);
        out += static_cast<char>(Formats.size());
        for (const TFormatRecord& f : Formats) {
            out += static_cast<char>(f.Format);
            PutU64(out, f.Size);
            PutU64(out, f.Hash);
        }
    }
    void Read(TRecordReader& in) {
        Section = in.U8();
        in.String(Path);
        Seq = in.U64();
        Formats.resize(in.U8());
        for (TFormatRecord& f : Formats) {
            f.Format = in.U8();
            f.Size = in.U64();
            f.Hash = in.U64();
        }
    }
};

// Same section and tree path: the key objects are matched by.
int CompareKey(const TObjectRecord& a, const TObjectRecord& b) {
    if (a.Section != b.Section) return a.Section < b.Section ? -1 : 1;
    const int c = a.Path.compare(b.Path);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

struct TRecordLess {
    bool operator()(const TObjectRecord& a, const TObjectRecord& b) const {
        const int c = CompareKey(a, b);
        return c != 0 ? c < 0 : a.Seq < b.Seq;
    }
};

using TObjectRecords = TSortedRecords<TObjectRecord, TRecordLess>;

// One side of a join: the sorted records with the occurrence of the current
// one among those of its key.
class TJoinSide {
public:
    explicit TJoinSide(const TObjectRecords& records) : cursor_(records.Read()) { Next(); }
    bool Have() const { return have_; }
    const TObjectRecord& Record() const { return record_; }
    std::uint64_t Occurrence() const { return occurrence_; }
    void Next() {
        const bool had = have_;
        if (had) std::swap(previous_, record_);
        have_ = cursor_.Next(record_);
        occurrence_ = had && have_ && CompareKey(previous_, record_) == 0 ? occurrence_ + 1 : 1;
    }

private:
    TObjectRecords::TCursor cursor_;
    TObjectRecord record_, previous_;
    bool have_ = false;
    std::uint64_t occurrence_ = 1;
};

// Walks two sorted record sets by key: the n-th record of a key on one side
// meets the n-th of the same key on the other. `pair(a, b, occurrence)`,
// `onlyA(a, occurrence)`, `onlyB(b, occurrence)`.
template <class TPair, class TOnlyA, class TOnlyB>
void JoinRecords(const TObjectRecords& a, const TObjectRecords& b, TPair pair, TOnlyA onlyA, TOnlyB onlyB) {
    TJoinSide left(a), right(b);
    while (left.Have() || right.Have()) {
        // Both sides step through a key's records together, so where the keys
        // agree the occurrences do too.
        const int c = !left.Have() ? 1 : !right.Have() ? -1 : CompareKey(left.Record(), right.Record());
        if (c == 0) {
            pair(left.Record(), right.Record(), left.Occurrence());
            left.Next();
            right.Next();
        } else if (c < 0) {
            onlyA(left.Record(), left.Occurrence());
            left.Next();
        } else {
            onlyB(right.Record(), right.Occurrence());
            right.Next();
        }
    }
}

// Takes a package's objects into sorted records, its entries into `entries`.
class TRecordingSink final : public IInspectionSink {
public:
    TRecordingSink(TObjectRecords& records, TPackageXmlReader::TOptions options) : records_(records), options_(options) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool) override { Package = entries; }
    void ImageEntries(const std::vector<TEntryInfo>&) override {}
    TPackageXmlReader::TOptions DocumentOptions() const override { return options_; }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        TObjectRecord r;
        r.Section = IndexOf(kSectionTags, section);
        r.Path = o.ObjectPath;
        r.Seq = next_[r.Section]++;
        for (const TFormatData& f : o.Formats) r.Formats.push_back({IndexOf(kFormatNames, f.Name), f.Size, f.Hash});
        records_.Add(std::move(r));
    }
    void End(const TPackageContents&) override { records_.Seal(); }

    std::vector<TEntryInfo> Package;

private:
    TObjectRecords& records_;
    const TPackageXmlReader::TOptions options_;
    std::uint64_t next_[kSectionCount] = {};
};

const TEntryInfo* FindEntry(const std::vector<TEntryInfo>& entries, std::string_view name1251) {
    const std::string name = text::Cp1251ToUtf8(name1251);
    for (const TEntryInfo& e : entries)
        if (e.Name == name) return &e;
    return nullptr;
}

// ---- verify ----

// The report walk's capture: every object of a known kind is taken as the
// build would store it (section, tree path, format list), in report order,
// into a file per section. An object of a kind with no section is a
// difference by itself; the walk goes on past it as past a captured one, so
// that everything after it is compared too.
class TExpectingCapture final : public package::ICapture {
public:
    explicit TExpectingCapture(const fs::path& dir) {
        for (std::size_t s = 0; s < kSectionCount; ++s) files_.emplace_back(StreamPath(dir, s));
    }
    static fs::path StreamPath(const fs::path& dir, std::size_t section) {
        return dir / ("report-in-order-" + std::to_string(section));
    }

    bool ExecuteCommand(const std::string&, const std::string& path) override {
        const package::TObjectKind* kind = package::FindObjectKind(path);
        if (!kind) {
            NotCarried.push_back(path);
            return true;
        }
        TObjectRecord r;
        r.Section = SectionIndex(*kind);
        r.Path = package::TreePath(*kind, path);
        r.Seq = next_[r.Section]++;
        for (const std::string& format : package::ObjectFormats(*kind, path))
            r.Formats.push_back({IndexOf(kFormatNames, format), 0, 0});
        files_[r.Section].Add(r);
        ++Objects;
        return true;
    }
    void Close() {
        for (TRecordWriter& f : files_) f.Close();
    }

    std::vector<std::string> NotCarried;  // full names as the report gives them, in report order
    std::uint64_t Objects = 0;

private:
    std::vector<TRecordWriter> files_;
    std::uint64_t next_[kSectionCount] = {};
};

// The report walked on a thread of its own while the package is read: the
// walk needs nothing of the package, and reading a package keeps its
// calling thread mostly waiting on the document's reader, so the walk takes
// next to no time of its own.
class TReportWalkThread {
public:
    TReportWalkThread(package::TReportReader& reader, TExpectingCapture& capture)
        : thread_([this, &reader, &capture] {
              try {
                  package::WalkReport(reader, capture);
                  capture.Close();
              } catch (...) {
                  fault_ = std::current_exception();
              }
          }) {}
    ~TReportWalkThread() {
        if (thread_.joinable()) thread_.join();
    }
    TReportWalkThread(const TReportWalkThread&) = delete;
    TReportWalkThread& operator=(const TReportWalkThread&) = delete;

    // Waits for the walk to end; throws what it threw.
    void Await() {
        if (thread_.joinable()) thread_.join();
        if (fault_) std::rethrow_exception(fault_);
    }

private:
    std::exception_ptr fault_;
    std::thread thread_;  // last, so that it starts once fault_ is there
};

// Takes the package's objects for verify. While a section's objects come in
// the report's order with the report's format lists, as a build writes
// them, each is checked against the report's next capture of that section
// as it arrives and nothing is kept or sorted. From the first one that does
// not match (or the first left over on either side), the rest of that
// section on both sides goes to sorted records, compared by key after the
// read as any order needs. What matched before stays out of them: it is the
// first occurrences of its paths on both sides and in order, so it changes
// neither how the rest pairs up nor which of the rest stand out of order.
class TMatchingSink final : public IInspectionSink {
public:
    TMatchingSink(const fs::path& dir, TReportWalkThread& walk, TObjectRecords& expected, TObjectRecords& actual)
        : dir_(dir), walk_(walk), expected_(expected), actual_(actual) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool) override { Package = entries; }
    void ImageEntries(const std::vector<TEntryInfo>&) override {}
    // The formats as they stand, so that a missing or extra one is a
    // difference here rather than a document off the layout.
    TPackageXmlReader::TOptions DocumentOptions() const override { return {false, true}; }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        OpenReport();
        TObjectRecord a;
        a.Section = IndexOf(kSectionTags, section);
        a.Path = o.ObjectPath;
        a.Seq = next_[a.Section]++;
        for (const TFormatData& f : o.Formats) a.Formats.push_back({IndexOf(kFormatNames, f.Name), f.Size, f.Hash});
        ++Objects;
        if (!sorted_[a.Section]) {
            TRecordReader& report = *report_[a.Section];
            if (report.More()) {
                TObjectRecord e;
                e.Read(report);
                if (SameCapture(e, a)) return;
                expected_.Add(std::move(e));
            }
            sorted_[a.Section] = true;
        }
        actual_.Add(std::move(a));
    }
    void End(const TPackageContents&) override {
        OpenReport();
        for (std::size_t s = 0; s < kSectionCount; ++s) FinishSection(s);
        expected_.Seal();
        actual_.Seal();
    }

    std::vector<TEntryInfo> Package;
    std::uint64_t Objects = 0;

private:
    // The report's files, once its walk has written them.
    void OpenReport() {
        if (!report_.empty()) return;
        walk_.Await();
        for (std::size_t s = 0; s < kSectionCount; ++s)
            report_.push_back(std::make_unique<TRecordReader>(TExpectingCapture::StreamPath(dir_, s)));
    }
    // What the report captures of `section` beyond the package's objects,
    // taken once the whole package is read (they are sorted anyway).
    void FinishSection(std::size_t section) {
        TRecordReader& report = *report_[section];
        while (report.More()) {
            TObjectRecord e;
            e.Read(report);
            expected_.Add(std::move(e));
        }
    }
    // The capture as the package holds it: the same tree path and the same formats in the same order.
    static bool SameCapture(const TObjectRecord& e, const TObjectRecord& a) {
        return e.Path == a.Path && std::equal(e.Formats.begin(), e.Formats.end(), a.Formats.begin(), a.Formats.end(),
                                              [](const TFormatRecord& x, const TFormatRecord& y) { return x.Format == y.Format; });
    }

    const fs::path dir_;
    TReportWalkThread& walk_;
    TObjectRecords& expected_;
    TObjectRecords& actual_;
    std::vector<std::unique_ptr<TRecordReader>> report_;  // per section, from the walk
    std::uint64_t next_[kSectionCount] = {};
    bool sorted_[kSectionCount] = {};  // the section's objects go to the sorted records
};

// The package places (Seq) of the objects of one section that stand out of
// the report's order: all but a longest run that keeps it. `pairs` holds
// (report place, package place) of each object found in both.
std::vector<std::uint64_t> OutOfOrder(std::vector<std::pair<std::uint64_t, std::uint64_t>>& pairs) {
    std::sort(pairs.begin(), pairs.end());
    // Longest increasing subsequence of the package places, by patience.
    std::vector<std::size_t> tails, before(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), pairs[i].second,
                                         [&pairs](std::size_t t, std::uint64_t v) { return pairs[t].second < v; });
        before[i] = at == tails.begin() ? SIZE_MAX : *(at - 1);
        if (at == tails.end()) tails.push_back(i);
        else *at = i;
    }
    std::vector<bool> kept(pairs.size(), false);
    for (std::size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = before[i]) kept[i] = true;
    std::vector<std::uint64_t> out;
    for (std::size_t i = 0; i < pairs.size(); ++i)
        if (!kept[i]) out.push_back(pairs[i].second);
    std::sort(out.begin(), out.end());
    return out;
}

// The format differences of an object found in both, in the report's format order.
void CompareFormats(const TObjectRecord& expected, const TObjectRecord& actual, std::vector<TVerifyDifference>& out) {
    const std::string section(kSectionTags[expected.Section]);
    std::size_t counts[std::size(kFormatNames)] = {};
    for (const TFormatRecord& f : actual.Formats) ++counts[f.Format];
    bool differ = false;
    for (const TFormatRecord& f : expected.Formats) {
        if (counts[f.Format] > 0) {
            --counts[f.Format];
            continue;
        }
        out.push_back({"missing format", section, expected.Path, std::string(kFormatNames[f.Format])});
        differ = true;
    }
    for (const TFormatRecord& f : actual.Formats) {
        if (counts[f.Format] == 0) continue;
        --counts[f.Format];
        out.push_back({"extra format", section, expected.Path, std::string(kFormatNames[f.Format])});
        differ = true;
    }
    if (differ || expected.Formats.size() != actual.Formats.size()) return;
    for (std::size_t i = 0; i < expected.Formats.size(); ++i)
        if (expected.Formats[i].Format != actual.Formats[i].Format) {
            out.push_back({"formats out of order", section, expected.Path, {}});
            return;
        }
}

}  // namespace

bool VerifyPackage(const fs::path& report, const fs::path& packagePath, std::string_view key1251, IVerifySink& sink) {
    TScratchDirectory runs;
    // Opened here, so that a report that is not there fails before the package is read.
    package::TReportReader reader = package::TReportReader::Open(report);
    TExpectingCapture capture(runs.Path());
    TObjectRecords expected(runs.Path(), "report"), actual(runs.Path(), "package");
    TReportWalkThread walk(reader, capture);
    TMatchingSink recording(runs.Path(), walk, expected, actual);
    try {
        InspectPackage(packagePath, key1251, recording);
    } catch (...) {
        // A report that cannot be walked is named first, as when it was walked first.
        walk.Await();
        throw;
    }
    walk.Await();

    std::uint64_t differences = 0;
    for (const std::string& name : capture.NotCarried) {
        sink.Difference({"kind not carried", "-", name, {}});
        ++differences;
    }

    // First the order: which objects found in both stand out of the report's order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs[kSectionCount];
    JoinRecords(
        expected, actual,
        [&](const TObjectRecord& e, const TObjectRecord& a, std::uint64_t) { pairs[e.Section].emplace_back(e.Seq, a.Seq); },
        [](const TObjectRecord&, std::uint64_t) {}, [](const TObjectRecord&, std::uint64_t) {});
    std::vector<std::uint64_t> outOfOrder[kSectionCount];
    for (std::size_t s = 0; s < kSectionCount; ++s) {
        outOfOrder[s] = OutOfOrder(pairs[s]);
        std::vector<std::pair<std::uint64_t, std::uint64_t>>().swap(pairs[s]);
    }

    std::vector<TVerifyDifference> found;
    auto report1 = [&](TVerifyDifference d) {
        sink.Difference(d);
        ++differences;
    };
    JoinRecords(
        expected, actual,
        [&](const TObjectRecord& e, const TObjectRecord& a, std::uint64_t) {
            const std::vector<std::uint64_t>& late = outOfOrder[e.Section];
            if (std::binary_search(late.begin(), late.end(), a.Seq))
                report1({"out of order", std::string(kSectionTags[e.Section]), e.Path, {}});
            found.clear();
            CompareFormats(e, a, found);
            for (TVerifyDifference& d : found) report1(std::move(d));
        },
        [&](const TObjectRecord& e, std::uint64_t) { report1({"missing", std::string(kSectionTags[e.Section]), e.Path, {}}); },
        [&](const TObjectRecord& a, std::uint64_t) {
            report1({"unexpected", std::string(kSectionTags[a.Section]), a.Path, {}});
        });

    for (std::string_view name : {package::package_names::Agreement, package::package_names::Description})
        if (!FindEntry(recording.Package, name))
            sink.Warning("the package holds no " + text::Cp1251ToUtf8(name));
    sink.End(capture.Objects + capture.NotCarried.size(), recording.Objects, differences);
    return differences == 0;
}

// ---- diff ----

bool TDiffSummary::Same() const {
    auto same = [](const TTextChange& t) { return t.Kind == TTextChange::TKind::Same || t.Kind == TTextChange::TKind::Absent; };
    return Added == 0 && Removed == 0 && Changed == 0 && same(Agreement) && same(Description);
}

namespace {

TTextChange CompareText(const TEntryInfo* before, const TEntryInfo* after) {
    TTextChange t;
    if (before) t.SizeBefore = before->Size;
    if (after) t.SizeAfter = after->Size;
    using K = TTextChange::TKind;
    if (!before && !after) t.Kind = K::Absent;
    else if (!before) t.Kind = K::Added;
    else if (!after) t.Kind = K::Removed;
    else t.Kind = before->Size == after->Size && before->ContentHash == after->ContentHash ? K::Same : K::Changed;
    return t;
}

}  // namespace

bool DiffPackages(const fs::path& oldPath, std::string_view oldKey1251, const fs::path& newPath,
                  std::string_view newKey1251, IDiffSink& sink) {
    TScratchDirectory runs;
    TObjectRecords before(runs.Path(), "old"), after(runs.Path(), "new");
    const TPackageXmlReader::TOptions hashing{true, false};
    TRecordingSink oldSink(before, hashing), newSink(after, hashing);
    // Both packages at once, one on a thread of its own.
    std::exception_ptr oldFault;
    std::thread oldReader([&] {
        try {
            InspectPackage(oldPath, oldKey1251, oldSink);
        } catch (...) {
            oldFault = std::current_exception();
        }
    });
    std::exception_ptr newFault;
    try {
        InspectPackage(newPath, newKey1251, newSink);
    } catch (...) {
        newFault = std::current_exception();
    }
    oldReader.join();
    if (oldFault) std::rethrow_exception(oldFault);
    if (newFault) std::rethrow_exception(newFault);

    TDiffSummary summary;
    std::size_t nextSection = 0;
    auto reach = [&](std::size_t section) {
        while (nextSection <= section && nextSection < kSectionCount) sink.Section(kSectionTags[nextSection++]);
    };
    auto change = [&](TObjectChange::TKind kind, const TObjectRecord& r, std::uint64_t occurrence) {
        reach(r.Section);
        TObjectChange c;
        c.Kind = kind;
        c.Section = kSectionTags[r.Section];
        c.Path = r.Path;
        c.Occurrence = occurrence;
        return c;
    };
    JoinRecords(
        before, after,
        [&](const TObjectRecord& o, const TObjectRecord& n, std::uint64_t occurrence) {
            // The same tree path gives the same format list (the layout was checked).
            if (o.Formats == n.Formats) return;
            TObjectChange c = change(TObjectChange::TKind::Changed, o, occurrence);
            for (std::size_t i = 0; i < o.Formats.size() && i < n.Formats.size(); ++i)
                if (!(o.Formats[i] == n.Formats[i]))
                    c.Formats.push_back({kFormatNames[o.Formats[i].Format], o.Formats[i].Size, n.Formats[i].Size});
            ++summary.Changed;
            sink.Change(c);
        },
        [&](const TObjectRecord& o, std::uint64_t occurrence) {
            ++summary.Removed;
            sink.Change(change(TObjectChange::TKind::Removed, o, occurrence));
        },
        [&](const TObjectRecord& n, std::uint64_t occurrence) {
            ++summary.Added;
            sink.Change(change(TObjectChange::TKind::Added, n, occurrence));
        });
    reach(kSectionCount);
    summary.Agreement = CompareText(FindEntry(oldSink.Package, package::package_names::Agreement),
                                    FindEntry(newSink.Package, package::package_names::Agreement));
    summary.Description = CompareText(FindEntry(oldSink.Package, package::package_names::Description),
                                      FindEntry(newSink.Package, package::package_names::Description));
    sink.End(summary);
    return summary.Same();
}

// ---- printers ----

namespace {

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

class TVerifyText final : public IVerifySink {
public:
    explicit TVerifyText(std::ostream& out) : out_(out) {}
    void Difference(const TVerifyDifference& d) override {
        out_ << d.What << "\t" << d.Section << "\t" << text::Cp1251ToUtf8(d.Path);
        if (!d.Format.empty()) out_ << "\t" << d.Format;
        out_ << "\n";
    }
    void Warning(const std::string& message) override { out_ << "warning: " << message << "\n"; }
    void End(std::uint64_t reportObjects, std::uint64_t packageObjects, std::uint64_t differences) override {
        out_ << "report: " << Plural(reportObjects, "object", "objects") << ", package: "
             << Plural(packageObjects, "object", "objects") << "; "
             << (differences == 0 ? std::string("the package matches the report")
                                  : "the package does not match the report: " +
                                        Plural(differences, "difference", "differences"))
             << "\n";
    }

private:
    std::ostream& out_;
};

// JSON written as it goes: the structure by hand, every value through nlohmann-json.
class TVerifyJson final : public IVerifySink {
public:
    explicit TVerifyJson(std::ostream& out) : out_(out) { out_ << "{\n  \"differences\": ["; }
    void Difference(const TVerifyDifference& d) override {
        nlohmann::ordered_json j = {{"what", d.What}, {"section", d.Section}, {"objectPath", text::Cp1251ToUtf8(d.Path)}};
        if (!d.Format.empty()) j["format"] = d.Format;
        out_ << (first_ ? "\n    " : ",\n    ") << j.dump();
        first_ = false;
    }
    void Warning(const std::string& message) override { warnings_.push_back(message); }
    void End(std::uint64_t reportObjects, std::uint64_t packageObjects, std::uint64_t differences) override {
        out_ << (first_ ? "]" : "\n  ]") << ",\n  \"warnings\": " << nlohmann::json(warnings_).dump()
             << ",\n  \"reportObjects\": " << reportObjects << ",\n  \"packageObjects\": " << packageObjects
             << ",\n  \"matches\": " << (differences == 0 ? "true" : "false") << "\n}\n";
    }

private:
    std::ostream& out_;
    bool first_ = true;
    std::vector<std::string> warnings_;  // two at most
};

const char* TextChangeWord(TTextChange::TKind kind) {
    switch (kind) {
    case TTextChange::TKind::Same: return "same";
    case TTextChange::TKind::Changed: return "changed";
    case TTextChange::TKind::Added: return "added";
    case TTextChange::TKind::Removed: return "removed";
    case TTextChange::TKind::Absent: break;
    }
    return "absent";
}

const char* ObjectChangeWord(TObjectChange::TKind kind) {
    switch (kind) {
    case TObjectChange::TKind::Added: return "added";
    case TObjectChange::TKind::Removed: return "removed";
    case TObjectChange::TKind::Changed: break;
    }
    return "changed";
}

class TDiffText final : public IDiffSink {
public:
    explicit TDiffText(std::ostream& out) : out_(out) {}
    void Section(std::string_view tag) override { section_ = tag; }
    void Change(const TObjectChange& c) override {
        if (!section_.empty()) out_ << section_ << ":\n";
        section_ = {};
        static const char marks[] = {'+', '-', '~'};
        out_ << "  " << marks[static_cast<int>(c.Kind)] << " " << text::Cp1251ToUtf8(c.Path);
        if (c.Occurrence > 1) out_ << " (occurrence " << c.Occurrence << ")";
        out_ << "\n";
        for (const TFormatChange& f : c.Formats) out_ << "      " << f.Name << "\t" << f.SizeBefore << " -> " << f.SizeAfter << "\n";
    }
    void End(const TDiffSummary& s) override {
        Text("agreement", s.Agreement);
        Text("description", s.Description);
        out_ << Plural(s.Added, "object", "objects") << " added, " << s.Removed << " removed, " << s.Changed
             << " changed; " << (s.Same() ? "the content is the same" : "the content differs") << "\n";
    }

private:
    void Text(const char* what, const TTextChange& t) {
        out_ << what << ": " << TextChangeWord(t.Kind);
        if (t.Kind == TTextChange::TKind::Changed) out_ << " (" << t.SizeBefore << " -> " << t.SizeAfter << " bytes)";
        out_ << "\n";
    }
    std::ostream& out_;
    std::string_view section_;  // announced, not printed yet
};

class TDiffJson final : public IDiffSink {
public:
    explicit TDiffJson(std::ostream& out) : out_(out) { out_ << "{\n  \"sections\": ["; }
    void Section(std::string_view tag) override {
        Close();
        out_ << (anySection_ ? ",\n" : "\n") << "    {\n      \"name\": \"" << tag << "\",\n      \"changes\": [";
        anySection_ = open_ = true;
        first_ = true;
    }
    void Change(const TObjectChange& c) override {
        nlohmann::ordered_json j = {{"change", ObjectChangeWord(c.Kind)},
                                    {"objectPath", text::Cp1251ToUtf8(c.Path)},
                                    {"occurrence", c.Occurrence}};
        if (c.Kind == TObjectChange::TKind::Changed) {
            nlohmann::ordered_json formats = nlohmann::ordered_json::array();
            for (const TFormatChange& f : c.Formats)
                formats.push_back({{"name", f.Name}, {"sizeBefore", f.SizeBefore}, {"sizeAfter", f.SizeAfter}});
            j["formats"] = formats;
        }
        out_ << (first_ ? "\n        " : ",\n        ") << j.dump();
        first_ = false;
    }
    void End(const TDiffSummary& s) override {
        Close();
        out_ << "\n  ],\n  \"agreement\": " << Text(s.Agreement) << ",\n  \"description\": " << Text(s.Description)
             << ",\n  \"added\": " << s.Added << ",\n  \"removed\": " << s.Removed << ",\n  \"changed\": " << s.Changed
             << ",\n  \"same\": " << (s.Same() ? "true" : "false") << "\n}\n";
    }

private:
    static std::string Text(const TTextChange& t) {
        nlohmann::ordered_json j = {{"change", TextChangeWord(t.Kind)}, {"sizeBefore", t.SizeBefore}, {"sizeAfter", t.SizeAfter}};
        return j.dump();
    }
    void Close() {
        if (!open_) return;
        out_ << (first_ ? "]\n    }" : "\n      ]\n    }");
        open_ = false;
    }
    std::ostream& out_;
    bool anySection_ = false, open_ = false, first_ = true;
};

}  // namespace

std::unique_ptr<IVerifySink> VerifyTextPrinter(std::ostream& out) { return std::make_unique<TVerifyText>(out); }
std::unique_ptr<IVerifySink> VerifyJsonPrinter(std::ostream& out) { return std::make_unique<TVerifyJson>(out); }
std::unique_ptr<IDiffSink> DiffTextPrinter(std::ostream& out) { return std::make_unique<TDiffText>(out); }
std::unique_ptr<IDiffSink> DiffJsonPrinter(std::ostream& out) { return std::make_unique<TDiffJson>(out); }

}  // namespace pkgtool
