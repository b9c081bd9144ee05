#pragma once
// What a build would capture from a comparison report, without a Designer:
// the report walk runs with a capture that takes every object of a known
// kind and notes every other, which would stop a build, and goes on, so that
// one run names all of them.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace pkgtool {

// One object the walk hands to the capture.
struct TPreviewObject {
    std::string Name;        // Windows-1251, the full name as the report gives it
    std::string Section;     // the section tag, or "-" for a kind with none
    std::string ObjectPath;  // Windows-1251, the tree path; "-" for a kind with none
    std::size_t Formats = 0; // how many clipboard formats a build reads for it
};

struct TPreview {
    std::vector<TPreviewObject> Objects;  // in report order
    std::vector<std::string> Unsupported; // Windows-1251: the objects of a kind no package carries, in order
    bool Completed = false;               // the report was walked to its end
};

// Walks the report at `path`, filling `preview` as it goes. Throws
// text::TError where the build would raise an error ("File not found", a
// range that is not two integers); `preview` then holds the objects before it.
void PreviewReport(const std::filesystem::path& path, TPreview& preview);

// One line per object: name, section, tree path, format count, tab-separated, UTF-8.
std::string PreviewLine(const TPreviewObject& object);

}  // namespace pkgtool
