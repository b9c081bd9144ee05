#pragma once
// The walk over the Designer's configuration-comparison report: picks out the
// metadata objects that the report marks as new and hands each of them to the
// object capture, stopping at the first capture that fails.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "text/Literal.h"

namespace package {

// The command name under which the walk asks for a new object.
inline constexpr std::string_view kAddObjectCommand = "AddObject";

// Shown (caption "Error", error icon, one "OK" button) when a capture failed;
// the build then ends without writing anything.
inline constexpr std::string_view kCaptureFailedCaption = "Error";
inline constexpr std::string_view kCaptureFailedMessage =
    text::Cp1251<"ОШИБКА ПОЛУЧЕНИЯ ДАННЫХ ДЛЯ ФОРИМРОВАНИЯ ПАКЕТА.\r\nПопробуйте увеличить задержку и повторите попытку">;

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

// Where the walk takes its lines from.
class ILineSource {
public:
    virtual ~ILineSource() = default;
    // The next line into `line`, without its end; false (and `line` empty)
    // when no line is left.
    virtual bool ReadLine(std::string& line) = 0;
    // Reads past the next line without keeping it; false when none is left.
    virtual bool SkipLine() = 0;
};

// Reads Windows-1251 text line by line without holding it whole: a line ends
// with LF (CR LF included), a CR is dropped wherever it stands, Ctrl-Z (0x1A)
// ends the text, and lines may be of any length.
class TReportReader : public ILineSource {
public:
    // Fills `buffer` with up to `size` bytes and returns how many; 0 at the end.
    using TReadFunction = std::function<std::size_t(char* buffer, std::size_t size)>;

    static constexpr std::size_t kDefaultChunk = 64 * 1024;

    // Reads through `read`, asking for `chunk` bytes at a time.
    explicit TReportReader(TReadFunction read, std::size_t chunk = kDefaultChunk);

    // Opens the file `path`. A file that does not exist (or an empty path)
    // throws text::TError "File not found"; any other failure the platform's
    // `Cannot open file "%s". %s`. The file is closed with the reader.
    static TReportReader Open(const std::filesystem::path& path);

    // Whether no line is left.
    bool AtEnd();
    bool ReadLine(std::string& line) override;
    bool SkipLine() override;

private:
    bool FillBuffer();
    bool ReadLineInto(std::string* line);

    TReadFunction read_;
    std::size_t chunk_;
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;  // the end of the input or a Ctrl-Z has been reached
};

// How a walk ended.
struct TWalkResult {
    bool Completed = false;      // the report was read to its end
    int Captured = 0;            // successful captures
    std::string FailedPath;      // when not Completed: the object whose capture failed
};

// Walks the report that `lines` delivers, calling `capture` for every new
// object. Stops at the first failed capture (Completed false). Throws
// "'%s' is not a valid integer value" for a module range that is not two
// integers, and whatever the capture throws.
TWalkResult WalkReport(ILineSource& lines, ICapture& capture);

// Opens the report named by `reportPath` (Windows-1251, as the field holds it)
// and walks it. An empty path is a file that does not exist.
TWalkResult RunReportWalk(std::string_view reportPath, ICapture& capture);

}  // namespace package
