#pragma once
// The system's error: an exception carrying its message as Windows-1251 text.
// The UI shows the message in the standard error box; the core never shows UI.

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace text {

class TError : public std::runtime_error {
public:
    explicit TError(const std::string& message1251) : std::runtime_error(message1251) {}
};

// Replaces each "%s" or "%d" of `pattern`, left to right, by the next of
// `args` (already formatted); "%%" gives "%". Missing args leave the marker.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace text
