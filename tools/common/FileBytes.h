// Whole files as byte strings, for the test tools: the simulator's tree, the
// driver's inputs and the outputs it reads back, the simulator's log.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace file {

// The bytes of `path`; nullopt when it cannot be opened or read. The file is
// opened shared for writing, so a log another process is still appending to
// reads up to its last written byte.
std::optional<std::string> Read(const std::filesystem::path& path);
// Creates or truncates `path` and writes `bytes`. Throws text::TError with
// the system's text when the file cannot be created or written.
void Write(const std::filesystem::path& path, std::string_view bytes);

}  // namespace file
