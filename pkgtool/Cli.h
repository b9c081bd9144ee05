#pragma once
// The command line of pkgtool: preview, inspect and build, with --help for
// each command and --version.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "WizardVersion.h"

namespace pkgtool {

// The product's version, from `git describe` at configure time.
inline constexpr std::string_view kVersion = WIZARD_VERSION_TEXT;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran and failed
inline constexpr int kExitUsage = 2;    // a wrong command line, or a command this build cannot run

// A message of the system (Windows-1251; its line breaks "\r\n") as console
// text: UTF-8 with "\n" line breaks.
std::string ConsoleText(std::string_view message1251);

// Runs the command line `args` (UTF-8, args[0] the program's name), writing
// results to `out` and messages to `err` (UTF-8). Returns the exit status.
int RunPkgtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pkgtool
