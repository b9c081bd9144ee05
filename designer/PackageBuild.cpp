#include "designer/PackageBuild.h"

namespace designer {

namespace {

// Counts the objects the walk would hand over, capturing none.
class TCountingCapture : public package::ICapture {
public:
    bool ExecuteCommand(const std::string&, const std::string&) override {
        ++Count;
        return true;
    }
    int Count = 0;
};

// Tells the monitor and asks it before handing each object to the real capture.
class TMonitoredCapture : public package::ICapture {
public:
    TMonitoredCapture(package::ICapture& inner, IBuildMonitor& monitor, ILogSink& log, int total)
        : inner_(inner), monitor_(monitor), log_(log), total_(total) {}

    bool ExecuteCommand(const std::string& command, const std::string& path) override {
        monitor_.Progress(++number_, total_);
        if (monitor_.StopRequested()) {
            Stopped = true;
            log_.AddLine(std::string(kBuildStoppedLine));
            return false;  // ends the walk
        }
        return inner_.ExecuteCommand(command, path);
    }

    bool Stopped = false;

private:
    package::ICapture& inner_;
    IBuildMonitor& monitor_;
    ILogSink& log_;
    int total_;
    int number_ = 0;
};

TBuildOutcome Stop(ILogSink& log) {
    log.AddLine(std::string(kBuildStoppedLine));
    return TBuildOutcome::Stopped;
}

}  // namespace

TKeyHandOver KeyToClipboard(platform::IClipboard& clipboard, platform::IClock& clock) {
    return [&clipboard, &clock](const std::string& key) { platform::PutClipboardText(clipboard, clock, key); };
}

int CountReportObjects(std::string_view reportPath) {
    TCountingCapture counter;
    package::RunReportWalk(reportPath, counter);
    return counter.Count;
}

TBuildResult CaptureReportObjects(package::TPackageDocument& document, std::string_view reportPath,
                                  const TCapturePorts& ports, IBuildMonitor& monitor) {
    package::SetUpPackageDocument(document);
    const int total = CountReportObjects(reportPath);
    TObjectCapture capture(document, ports);
    TMonitoredCapture monitored(capture, monitor, ports.Log, total);
    TBuildResult result;
    result.Walk = package::RunReportWalk(reportPath, monitored);
    result.Stopped = monitored.Stopped;
    return result;
}

TBuildOutcome RunPackageBuild(package::TPackageDocument& document, const TBuildRequest& request,
                              const TCapturePorts& ports, IBuildMonitor& monitor, const TKeyHandOver& handOver,
                              const zip::TZipWriter::TRandomSource& random) {
    TBuildResult captured;
    try {
        captured = CaptureReportObjects(document, request.ReportPath, ports, monitor);
    } catch (const package::TBuildStopped&) {
        // Asked for while the build waited for the Designer to answer.
        return Stop(ports.Log);
    }
    if (captured.Stopped) return TBuildOutcome::Stopped;
    if (!captured.Walk.Completed) return TBuildOutcome::CaptureFailed;
    // A stop that came during the last object's wait is seen here, before
    // anything is written.
    if (monitor.StopRequested()) return Stop(ports.Log);
    try {
        package::WritePackage(*document.Document, request.Fields, random,
                              [&monitor] { return monitor.StopRequested(); });
    } catch (const package::TBuildStopped&) {
        return Stop(ports.Log);
    }
    if (handOver) handOver(request.Fields.SerialKey);
    return TBuildOutcome::Written;
}

}  // namespace designer
