#pragma once
// pkgtool build: the wizard's build without its form. It finds a running
// Designer's main frame, captures its windows with the wizard's capture
// steps, captures every new object of the report and writes the package,
// printing the log as it goes and the key at the end.

#include <iosfwd>
#include <string>

namespace pkgtool {

// The command line of a build, as given (UTF-8).
struct TBuildOptions {
    std::string Report, Package, License, Description, Key, Window;
    bool NewKey = false;
    int Delay = 20;
    int AnswerTimeout = 30000;  // milliseconds the Designer may take over one message
};

// The build's inputs in the system's encoding (Windows-1251), as the
// wizard's fields would hold them.
struct TBuildRequest {
    std::string Report, Package, License, Description, Key, Window;
    bool NewKey = false;
    int Delay = 20;
    int AnswerTimeout = 30000;
};

// The options checked and converted. Throws text::TError (UTF-8 message) for
// a text that Windows-1251 cannot hold (the Designer, the package and its
// installer know only that code page) and for a key longer than the
// wizard's key field takes (36 characters).
TBuildRequest CheckBuildOptions(const TBuildOptions& options);

// Runs the build (Windows build only; elsewhere it says so and returns 2).
// Log lines and the key go to `out`, failures to `err`, both UTF-8. Returns
// 0 when the package is written, 1 on any failure or a stop (Ctrl+C,
// Ctrl+Break, closing the console), after which no package was written and
// the previous one is intact.
int RunBuild(const TBuildOptions& options, std::ostream& out, std::ostream& err);

}  // namespace pkgtool
