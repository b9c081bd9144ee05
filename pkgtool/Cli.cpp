#include "Cli.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "Build.h"
#include "Compare.h"
#include "Inspect.h"
#include "Preview.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace pkgtool {
namespace {

namespace fs = std::filesystem;

// A path named by UTF-8 text, whatever the system's own encoding of paths.
fs::path PathFromUtf8(const std::string& s) { return fs::path(text::Utf8ToUtf16(s)); }

// A message of the system (Windows-1251) on its own line, UTF-8.
void PrintError(std::ostream& err, const std::string& message1251) {
    err << ConsoleText(message1251) << '\n';
}

struct TPreviewOptions {
    std::string Report;
    bool Count = false;
};

struct TInspectOptions {
    std::string Package;
    std::string Key;
    bool Xml = false;
    bool Json = false;
};

struct TVerifyOptions {
    std::string Package;
    std::string Report;
    std::string Key;
    bool Json = false;
};

struct TDiffOptions {
    std::string Old;
    std::string New;
    std::string Key;
    std::string OldKey;
    std::string NewKey;
    bool Json = false;
};

// verify and diff answer 0 (same) or 1 (different) only when they could
// read everything; a report or package that cannot be read is trouble, 2.
template <class F>
int RunComparison(std::ostream& out, std::ostream& err, F compare) {
    try {
        return compare() ? kExitOk : kExitFailure;
    } catch (const text::TError& e) {
        out.flush();
        PrintError(err, e.what());
    } catch (const std::bad_alloc&) {
        PrintError(err, "Out of memory");
    }
    return kExitUsage;
}

int RunVerify(const TVerifyOptions& o, std::ostream& out, std::ostream& err) {
    return RunComparison(out, err, [&] {
        const std::unique_ptr<IVerifySink> printer = o.Json ? VerifyJsonPrinter(out) : VerifyTextPrinter(out);
        return VerifyPackage(PathFromUtf8(o.Report), PathFromUtf8(o.Package), text::Utf8ToCp1251(o.Key), *printer);
    });
}

int RunDiff(const TDiffOptions& o, std::ostream& out, std::ostream& err) {
    const std::string oldKey = text::Utf8ToCp1251(o.OldKey.empty() ? o.Key : o.OldKey);
    const std::string newKey = text::Utf8ToCp1251(o.NewKey.empty() ? o.Key : o.NewKey);
    return RunComparison(out, err, [&] {
        const std::unique_ptr<IDiffSink> printer = o.Json ? DiffJsonPrinter(out) : DiffTextPrinter(out);
        return DiffPackages(PathFromUtf8(o.Old), oldKey, PathFromUtf8(o.New), newKey, *printer);
    });
}

int RunPreview(const TPreviewOptions& o, std::ostream& out, std::ostream& err) {
    TPreview preview;
    try {
        PreviewReport(PathFromUtf8(o.Report), preview);
    } catch (const text::TError& e) {
        if (!o.Count)
            for (const TPreviewObject& object : preview.Objects) out << PreviewLine(object);
        PrintError(err, e.what());
        return kExitFailure;
    }
    const bool buildable = preview.Completed && preview.Unsupported.empty();
    if (o.Count && buildable) {
        out << preview.Objects.size() << '\n';
        return kExitOk;
    }
    if (!o.Count)
        for (const TPreviewObject& object : preview.Objects) out << PreviewLine(object);
    if (buildable) return kExitOk;
    // Every object a build would stop at, in one run.
    for (const std::string& name : preview.Unsupported)
        PrintError(err, text::Format(package::kUnsupportedKindMessage, {name}));
    return kExitFailure;
}

int RunInspect(const TInspectOptions& o, std::ostream& out, std::ostream& err) {
    const std::string key1251 = text::Utf8ToCp1251(o.Key);
    try {
        const std::unique_ptr<IInspectionSink> printer = o.Xml ? XmlPrinter(out) : o.Json ? JsonPrinter(out) : TextPrinter(out);
        InspectPackage(PathFromUtf8(o.Package), key1251, *printer);
    } catch (const text::TError& e) {
        out.flush();
        PrintError(err, e.what());
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        PrintError(err, "Out of memory");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

std::string ConsoleText(std::string_view message1251) {
    std::string utf8 = text::Cp1251ToUtf8(message1251);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')) out += utf8[i];
    return out;
}

int RunPkgtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app{"pkgtool: previews comparison reports, inspects, verifies, compares and builds installation packages",
                 "pkgtool"};
    app.set_version_flag("--version", "pkgtool " + std::string(kVersion));
    app.require_subcommand(1);
    app.fallthrough(false);
    // Paths begin with "/" under Wine and on Unix: never read them as /options.
    app.allow_windows_style_options(false);

    TPreviewOptions preview;
    CLI::App* previewCmd = app.add_subcommand(
        "preview", "Lists the objects a build would capture from REPORT, in report order, one per line: "
                   "name, section, tree path, number of formats (tab-separated, UTF-8). Exit 1 where a build "
                   "would stop, with the wizard's message.");
    previewCmd->add_option("REPORT", preview.Report, "the comparison report saved by the Designer")->required();
    previewCmd->add_flag("--count", preview.Count, "print only the number of objects");

    TInspectOptions inspect;
    CLI::App* inspectCmd = app.add_subcommand(
        "inspect", "Opens PACKAGE, verifies every entry's CRC, opens image.0, checks PackageData.xml against the "
                   "package layout and prints the entries and the objects per section. Exit 1 on a wrong key, "
                   "a damaged archive or a document that does not match.");
    inspectCmd->add_option("PACKAGE", inspect.Package, "the package file (.1c82pkg)")->required();
    inspectCmd->add_option("--key", inspect.Key, "the package key (default: the default package password)");
    CLI::Option* xmlOpt = inspectCmd->add_flag("--xml", inspect.Xml, "write PackageData.xml's bytes to stdout instead");
    inspectCmd->add_flag("--json", inspect.Json, "print the same facts as JSON")->excludes(xmlOpt);

    TVerifyOptions verify;
    CLI::App* verifyCmd = app.add_subcommand(
        "verify", "Walks REPORT as a build does and checks that PACKAGE holds exactly the objects it captures, "
                  "each in its section, in report order, with its tree path and formats. One line per difference, "
                  "the verdict last. Exit 0 when they match, 1 when they do not, 2 when either cannot be read.");
    verifyCmd->add_option("PACKAGE", verify.Package, "the package file (.1c82pkg)")->required();
    verifyCmd->add_option("--report", verify.Report, "the comparison report the package was built from")->required();
    verifyCmd->add_option("--key", verify.Key, "the package key (default: the default package password)");
    verifyCmd->add_flag("--json", verify.Json, "print the same facts as JSON");

    TDiffOptions diff;
    CLI::App* diffCmd = app.add_subcommand(
        "diff", "Compares the content of two packages: objects added, removed and changed per section (by tree "
                "path), the formats that changed with their sizes, and the agreement and description. Exit 0 when "
                "the content is the same, 1 when it differs, 2 when a package cannot be read.");
    diffCmd->add_option("OLD", diff.Old, "the earlier package")->required();
    diffCmd->add_option("NEW", diff.New, "the later package")->required();
    CLI::Option* diffKey = diffCmd->add_option("--key", diff.Key, "the key of both packages");
    diffCmd->add_option("--old-key", diff.OldKey, "the key of OLD")->excludes(diffKey);
    diffCmd->add_option("--new-key", diff.NewKey, "the key of NEW")->excludes(diffKey);
    diffCmd->add_flag("--json", diff.Json, "print the same facts as JSON");

    TBuildOptions build;
    CLI::App* buildCmd = app.add_subcommand(
        "build", "Builds a package from a running Designer without the wizard's form (Windows build only).");
    buildCmd->add_option("--report", build.Report, "the comparison report")->required();
    buildCmd->add_option("--package", build.Package, "the package file to write")->required();
    buildCmd->add_option("--license", build.License, "the agreement text");
    buildCmd->add_option("--description", build.Description, "the description text");
    CLI::Option* keyOpt = buildCmd->add_option("--key", build.Key, "the package key");
    buildCmd->add_flag("--new-key", build.NewKey, "generate a new key")->excludes(keyOpt);
    buildCmd->add_option("--delay", build.Delay, "milliseconds the Designer is given to fill the clipboard (at least 10)")
        ->check(CLI::Range(10, 600000))
        ->capture_default_str();
    buildCmd->add_option("--answer-timeout", build.AnswerTimeout,
                         "milliseconds the Designer may take over one message before the build ends")
        ->check(CLI::Range(100, 600000))
        ->capture_default_str();
    buildCmd->add_option("--window", build.Window, "use the Designer whose caption contains TITLE");

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (*previewCmd) return RunPreview(preview, out, err);
    if (*inspectCmd) return RunInspect(inspect, out, err);
    if (*verifyCmd) return RunVerify(verify, out, err);
    if (*diffCmd) return RunDiff(diff, out, err);
    return RunBuild(build, out, err);
}

}  // namespace pkgtool
