#include "Error.h"

namespace text {

TFileError::TFileError(std::string pattern, std::string path1251, std::string reason1251)
    : TError(Format(pattern, {path1251, reason1251})),
      pattern_(std::move(pattern)),
      path_(std::move(path1251)),
      reason_(std::move(reason1251)) {}

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char directive = pattern[i + 1];
            if (directive == '%') { out += '%'; ++i; continue; }
            if ((directive == 's' || directive == 'd') && next != args.end()) {
                out.append(*next++);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace text
