#include "designer/BuildControl.h"

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

// Asks the monitor before handing each object to the real capture.
class TMonitoredCapture : public package::ICapture {
public:
    TMonitoredCapture(package::ICapture& inner, IBuildMonitor& monitor, ILogSink& log, int total)
        : inner_(inner), monitor_(monitor), log_(log), total_(total) {}

    bool ExecuteCommand(const std::string& command, const std::string& path) override {
        if (!monitor_.BeforeObject(++number_, total_)) {
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

}  // namespace

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

}  // namespace designer
