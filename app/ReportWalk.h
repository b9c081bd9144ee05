#pragma once
// The walk over the Designer's configuration-comparison report: picks out the
// metadata objects that the report marks as new and hands each of them to the
// object capture, stopping at the first capture that fails.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "text/Literal.h"

namespace app {

using namespace text::literals;

// The command name under which the walk asks for a new object.
inline constexpr std::string_view kAddObjectCommand = "AddObject";

// Shown (caption "Error", error icon, one "OK" button) when a capture failed;
// the build then ends without writing anything.
inline constexpr std::string_view kCaptureFailedCaption = "Error";
inline constexpr std::string_view kCaptureFailedMessage =
    "ОШИБКА ПОЛУЧЕНИЯ ДАННЫХ ДЛЯ ФОРИМРОВАНИЯ ПАКЕТА.\r\nПопробуйте увеличить задержку и повторите попытку"_cp1251;

// Capture depth at the start of a walk and after every group line: deeper
// than any report goes, so every new object is taken.
inline constexpr int kUnlimitedDepth = 999;

// The object capture as the walk sees it.
class ICapture {
public:
    virtual ~ICapture() = default;
    // True when the object named `path` is stored in the package document;
    // false when the capture failed. Errors are thrown.
    virtual bool ExecuteCommand(const std::string& command, const std::string& path) = 0;
};

// The number of non-overlapping occurrences of `sub` in `s`, searched from the
// left, case-sensitive; 0 when either is empty.
int CountOccurrences(std::string_view sub, std::string_view s);

// Counts the tab characters n of the whole `line` (wherever they stand), cuts
// the first n + skip - 1 characters off the front and returns n. With skip 3
// the indentation and the two column characters go; with skip 1 only the tabs.
int StripIndent(std::string& line, int skip);

// Reads a Windows-1251 text file line by line without holding it whole: a
// line ends with LF (CR LF included), a CR is dropped wherever it stands,
// Ctrl-Z (0x1A) ends the file, and lines may be of any length.
class TReportReader {
public:
    // Opens `path`. A file that does not exist throws text::TError
    // "File not found"; any other failure the platform's
    // `Cannot open file "%s". %s`.
    explicit TReportReader(const std::filesystem::path& path);

    // Whether no line is left.
    bool AtEnd();
    // The next line into `line`, without its end; false (and `line` empty)
    // when the file is at its end.
    bool ReadLine(std::string& line);
    // Reads past the next line without keeping it; false at the end.
    bool SkipLine();

private:
    bool FillBuffer();
    bool ReadLineInto(std::string* line);

    platform::TFile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;  // the file's end or a Ctrl-Z has been reached
};

// How a walk ended.
struct TWalkResult {
    bool Completed = false;      // the report was read to its end
    int Captured = 0;            // successful captures
    std::string FailedPath;      // when not Completed: the object whose capture failed
};

// Walks the report that `reader` delivers, calling `capture` for every new
// object. Stops at the first failed capture (Completed false). Throws
// "'%s' is not a valid integer value" for a module range that is not two
// integers, and whatever the capture throws.
TWalkResult WalkReport(TReportReader& reader, ICapture& capture);

// Opens the report named by `reportPath` (Windows-1251, as the field holds it)
// and walks it. An empty path is a file that does not exist.
TWalkResult RunReportWalk(std::string_view reportPath, ICapture& capture);

}  // namespace app
