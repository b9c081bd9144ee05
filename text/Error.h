#pragma once
// The system's error: an exception carrying its message as Windows-1251 text.
// The UI shows the message in the standard error box; the core never shows UI.

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace text {

class TError : public std::runtime_error {
public:
    explicit TError(const std::string& message1251) : std::runtime_error(message1251) {}
};

// A file operation that failed: a message pattern with one "%s" for the path
// and one for the system's reason, e.g. `Cannot create file "%s". %s`. The
// path is kept as data, so a caller that knows a better name for the file
// (the target the user chose rather than a temporary name) can show that
// with WithPath instead of rewriting the message's text.
class TFileError : public TError {
public:
    TFileError(std::string pattern, std::string path1251, std::string reason1251);

    const std::string& Pattern() const { return pattern_; }
    const std::string& Path() const { return path_; }
    const std::string& Reason() const { return reason_; }

    // The same error about the file `path1251`.
    TFileError WithPath(std::string path1251) const { return TFileError(pattern_, std::move(path1251), reason_); }

private:
    std::string pattern_;
    std::string path_;
    std::string reason_;
};

// Replaces each "%s" or "%d" of `pattern`, left to right, by the next of
// `args` (already formatted); "%%" gives "%". Missing args leave the marker.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace text
