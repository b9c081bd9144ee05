#pragma once
// What the shared part of the platform layer asks of each system's file
// (Platform_win32.cpp, Platform_posix.cpp). Not for use outside platform/.

#include <filesystem>
#include <string_view>

namespace platform::detail {

// Throws text::TFileError with `pattern` ("... \"%s\". %s"), the full path
// of `path` and the system's text for `code`.
[[noreturn]] void ThrowFileError(std::string_view pattern, const std::filesystem::path& path, int code);

// Creates the directory `path`, readable by the user alone where the system
// allows; never opens an existing one. 0 on success, else the system's code.
int MakePrivateDirectory(const std::filesystem::path& path);

// The system's code for "a file of that name exists".
int AlreadyExistsCode();

}  // namespace platform::detail
