#pragma once
// A build that can be watched and stopped between two objects: the capturing
// half of the build click with a monitor that is asked before each object.
// The main form pumps its messages there, so the log repaints, Esc or closing
// the form stops the build, and the progress "N из M" can be shown.

#include <string>
#include <string_view>

#include "designer/ObjectCapture.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "text/Literal.h"

namespace designer {

// Watches a build between objects.
class IBuildMonitor {
public:
    virtual ~IBuildMonitor() = default;
    // Before object `number` (counted from 1) of `total`: false stops the build
    // before that object is touched.
    virtual bool BeforeObject(int number, int total) = 0;
};

// The log line of a build stopped by its monitor.
inline constexpr std::string_view kBuildStoppedLine = package::kBuildStoppedMessage;

// The number of objects a walk of the report would capture if every capture
// succeeded (a walk that captures nothing). Throws as package::RunReportWalk.
int CountReportObjects(std::string_view reportPath);

struct TBuildResult {
    package::TWalkResult Walk;  // Completed only when the report was walked to its end
    bool Stopped = false;       // the monitor stopped it; the log says so
};

// As CaptureReportObjects, asking `monitor` before each object. A stop
// writes kBuildStoppedLine to the log and ends the walk without touching
// the object; Walk.Completed is then false and nothing may be written.
TBuildResult CaptureReportObjects(package::TPackageDocument& document, std::string_view reportPath,
                                  const TCapturePorts& ports, IBuildMonitor& monitor);

}  // namespace designer
