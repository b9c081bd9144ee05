#include "Build.h"

#include <ostream>

#include "Cli.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace pkgtool {

namespace {

// The longest key the wizard's key field takes.
constexpr std::size_t kMaxKeyLength = 36;

std::string To1251(const std::string& utf8, const char* what) {
    std::string converted = text::Utf8ToCp1251(utf8);
    if (text::Cp1251ToUtf8(converted) != utf8)
        throw text::TError(std::string(what) + " has a character that Windows-1251 cannot hold: " + utf8);
    return converted;
}

}  // namespace

TBuildRequest CheckBuildOptions(const TBuildOptions& o) {
    TBuildRequest r;
    r.Report = To1251(o.Report, "the report path");
    r.Package = To1251(o.Package, "the package path");
    r.License = To1251(o.License, "the agreement path");
    r.Description = To1251(o.Description, "the description path");
    r.Key = To1251(o.Key, "the key");
    r.Window = To1251(o.Window, "the window title");
    if (r.Key.size() > kMaxKeyLength)
        throw text::TError("the key has " + std::to_string(r.Key.size()) + " characters; a package key has at most " +
                           std::to_string(kMaxKeyLength));
    r.NewKey = o.NewKey;
    r.Delay = o.Delay;
    r.AnswerTimeout = o.AnswerTimeout;
    return r;
}

#ifndef _WIN32
int RunBuild(const TBuildOptions&, std::ostream&, std::ostream& err) {
    err << "pkgtool build drives a running Designer through its windows and runs only in the Windows build "
           "of pkgtool\n";
    return kExitUsage;
}
#endif

}  // namespace pkgtool
