#include "ReportWalk.h"

#include <algorithm>
#include <system_error>

#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Number.h"

namespace package {

using namespace text::literals;

namespace {

constexpr char kCtrlZ = 0x1A;

constexpr std::string_view kNewObjectMarker = "<--";
constexpr std::string_view kGroupMarker = "***";
constexpr std::string_view kModuleMarker = "Мод"_cp1251;
constexpr std::string_view kValuesDiffer = "Различаются значения"_cp1251;
constexpr std::string_view kOnlyInMain = "Объект присутствует только в основной конфигурации"_cp1251;

// The line after a module-difference line names the module text that follows
// it, "...: first - last"; those lines are read past unseen. The line itself is
// consumed whatever it holds.
void SkipModuleText(ILineSource& reader) {
    std::string line;
    reader.ReadLine(line);
    StripIndent(line, 1);
    if (!line.starts_with(kOnlyInMain)) return;

    const std::size_t colon = line.find(": ");
    // Without ": " the range is taken from the second character on; such a
    // line holds no " - " and fails below with its text in the message.
    const std::string_view bounds = std::string_view(line).substr(colon == std::string::npos ? 1 : colon + 2);
    const std::size_t dash = bounds.find(" - ");
    if (dash == std::string_view::npos) throw text::TError(text::Format("'%s' is not a valid integer value", {bounds}));
    const std::int64_t first = text::StrToInt(bounds.substr(0, dash));
    const std::int64_t last = text::StrToInt(bounds.substr(dash + 3));

    // A range that runs past the end of the report stops there: a bound such
    // as 2000000000 must not spin through empty lines.
    for (std::int64_t n = last - first + 1; n > 0; --n)
        if (!reader.SkipLine()) break;
}

}  // namespace

int CountOccurrences(std::string_view sub, std::string_view s) {
    if (sub.empty() || s.empty()) return 0;
    int count = 0;
    for (std::size_t at = s.find(sub); at != std::string_view::npos; at = s.find(sub, at + sub.size())) ++count;
    return count;
}

int StripIndent(std::string& line, int skip) {
    const int tabs = CountOccurrences("\t", line);
    const std::int64_t cut = static_cast<std::int64_t>(tabs) + skip - 1;
    if (cut > 0) line.erase(0, static_cast<std::size_t>(cut));
    return tabs;
}

TReportReader::TReportReader(TReadFunction read, std::size_t chunk)
    : read_(std::move(read)), chunk_(chunk ? chunk : 1), buffer_(new char[chunk_]) {}

TReportReader TReportReader::Open(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) throw text::TError("File not found");
    auto file = std::make_shared<platform::TFile>(platform::TFile::OpenRead(path));
    return TReportReader([file](char* buffer, std::size_t size) { return file->Read(buffer, size); });
}

bool TReportReader::FillBuffer() {
    pos_ = end_ = 0;
    if (eof_) return false;
    end_ = std::min(read_(buffer_.get(), chunk_), chunk_);
    if (end_ == 0) eof_ = true;
    return end_ != 0;
}

bool TReportReader::AtEnd() {
    if (pos_ == end_ && !FillBuffer()) return true;
    if (buffer_[pos_] == kCtrlZ) {
        eof_ = true;
        pos_ = end_ = 0;
        return true;
    }
    return false;
}

bool TReportReader::ReadLineInto(std::string* line) {
    if (line) line->clear();
    if (AtEnd()) return false;
    for (;;) {
        if (pos_ == end_ && !FillBuffer()) return true;  // the last line has no end
        const char* const start = buffer_.get() + pos_;
        const std::size_t available = end_ - pos_;
        std::size_t run = 0;
        while (run < available && start[run] != '\n' && start[run] != '\r' && start[run] != kCtrlZ) ++run;
        if (line) line->append(start, run);
        pos_ += run;
        if (run == available) continue;
        const char stop = start[run];
        if (stop == '\r') {
            ++pos_;
        } else if (stop == '\n') {
            ++pos_;
            return true;
        } else {  // Ctrl-Z: nothing after it is read
            eof_ = true;
            pos_ = end_ = 0;
            return true;
        }
    }
}

bool TReportReader::ReadLine(std::string& line) { return ReadLineInto(&line); }

bool TReportReader::SkipLine() { return ReadLineInto(nullptr); }

TWalkResult WalkReport(ILineSource& reader, ICapture& capture) {
    TWalkResult result;
    int depth = kUnlimitedDepth;
    const std::string command(kAddObjectCommand);
    std::string line;
    while (reader.ReadLine(line)) {
        const int level = StripIndent(line, 3);
        if (level < 2) continue;
        const std::string_view marker = std::string_view(line).substr(0, 3);
        if (marker == kNewObjectMarker && depth >= level) {
            std::string path = line.substr(3);
            if (!capture.ExecuteCommand(command, path)) {
                result.FailedPath = std::move(path);
                return result;
            }
            ++result.Captured;
            depth = level;
        } else if (marker == kGroupMarker) {
            depth = kUnlimitedDepth;
        } else if (marker == kModuleMarker && line.ends_with(kValuesDiffer)) {
            SkipModuleText(reader);
        }
    }
    result.Completed = true;
    return result;
}

TWalkResult RunReportWalk(std::string_view reportPath, ICapture& capture) {
    TReportReader reader = TReportReader::Open(text::PathFrom1251(reportPath));
    return WalkReport(reader, capture);
}

}  // namespace package
