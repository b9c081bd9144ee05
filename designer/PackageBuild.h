#pragma once
// The build behind the form's "Сформировать" and `pkgtool build`, from the
// report to the key: every new object of the comparison report is captured
// from the Designer's tree, then the package is written and put in place,
// then its key is handed over. The front ends only adapt it: the form
// pumps its messages in the monitor and shows the log through a display,
// the console tool prints the log and answers Ctrl+C.
//
// The build can be stopped at every point where stopping loses nothing:
// before each object, once every object is captured, once image.0 is
// written and just before the new package replaces the old one. A stopped
// or failed build leaves the previous package, the clipboard and the disk as
// they were; the key is handed over only once the new package is in place.
//
// Use:
//     designer::TBuildRequest request{reportPath, {license, description, packagePath, key}};
//     switch (designer::RunPackageBuild(document, request, ports, monitor, handOver)) { ... }
// Errors are text::TError (Windows-1251 message).

#include <functional>
#include <string>
#include <string_view>

#include "designer/ObjectCapture.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Clipboard.h"

namespace designer {

// What a build makes: the report to walk and the four fields the package
// is written from, Windows-1251 text exactly as the user gave it.
struct TBuildRequest {
    std::string ReportPath;
    package::TAssemblyInput Fields;
};

// Watches a build and may stop it.
class IBuildMonitor {
public:
    virtual ~IBuildMonitor() = default;
    // Object `number` (counted from 1) of `total` is about to be captured.
    virtual void Progress(int number, int total) = 0;
    // True stops the build. Asked before each object, once every object is
    // captured, once image.0 is written and just before the new package
    // replaces the old one; and while the build waits for the Designer to
    // answer, when the ports' answer policy asks it (TWin32BuildPorts::With).
    virtual bool StopRequested() = 0;
};

// Receives the key of a package that is in place: shows it, puts it on the
// clipboard. An error raised here leaves the new package where it is.
using TKeyHandOver = std::function<void(const std::string& key1251)>;

// The hand-over of the form: the key on `clipboard` as plain text (an empty
// key leaves an empty text; the default password is never shown), waiting on
// `clock` while another program holds the clipboard.
TKeyHandOver KeyToClipboard(platform::IClipboard& clipboard, platform::IClock& clock);

// How a build ended.
enum class TBuildOutcome {
    Written,        // the package is in place and its key was handed over
    Stopped,        // the monitor stopped it; the log's last line says so
    CaptureFailed,  // an object could not be captured; show package::kCaptureFailedMessage
};

// The log line of a build stopped by its monitor.
inline constexpr std::string_view kBuildStoppedLine = package::kBuildStoppedMessage;

// Runs one build: `document` becomes a fresh document, every object of the
// report is captured over `ports` into it, the package is written as
// package::WritePackage writes it (`random`: the encryption headers' bytes,
// empty for the system's CSPRNG), and request.Fields.SerialKey is handed
// over. Throws, with nothing written, for a report that cannot be read, a
// bad delay or a clipboard that cannot be opened while capturing; throws the
// package write's errors with the previous package intact; throws what
// `handOver` throws with the new package in place.
TBuildOutcome RunPackageBuild(package::TPackageDocument& document, const TBuildRequest& request,
                              const TCapturePorts& ports, IBuildMonitor& monitor, const TKeyHandOver& handOver,
                              const zip::TZipWriter::TRandomSource& random = {});

// The number of objects a walk of the report would capture if every capture
// succeeded (a walk that captures nothing). Throws as package::RunReportWalk.
int CountReportObjects(std::string_view reportPath);

struct TBuildResult {
    package::TWalkResult Walk;  // Completed only when the report was walked to its end
    bool Stopped = false;       // the monitor stopped it; the log says so
};

// The capturing half of RunPackageBuild: as CaptureReportObjects, telling
// `monitor` the progress and asking it before each object. A stop writes
// kBuildStoppedLine to the log and ends the walk without touching the
// object; Walk.Completed is then false.
TBuildResult CaptureReportObjects(package::TPackageDocument& document, std::string_view reportPath,
                                  const TCapturePorts& ports, IBuildMonitor& monitor);

}  // namespace designer
