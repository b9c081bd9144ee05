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

TBuildDisplay::TBuildDisplay(platform::IClock& clock, std::uint32_t intervalMs, TScreen screen)
    : clock_(clock), intervalMs_(intervalMs), screen_(std::move(screen)) {}

void TBuildDisplay::AddLine(const std::string& line) {
    lines_.push_back(line);
    ShowIfDue();
}

void TBuildDisplay::SetProgress(int number, int total) {
    number_ = number;
    total_ = total;
    progressPending_ = true;
    ShowIfDue();
}

void TBuildDisplay::ShowIfDue() {
    if (lines_.empty() && !progressPending_) return;
    if (shownBefore_ && clock_.NowMs() - lastShownMs_ < intervalMs_) return;
    ShowNow();
}

void TBuildDisplay::ShowNow() {
    if (!lines_.empty()) {
        // Taken out first: the screen may pump messages and come back here.
        std::vector<std::string> lines;
        lines.swap(lines_);
        screen_.AddLines(lines);
    }
    if (progressPending_) {
        progressPending_ = false;
        screen_.Progress(number_, total_);
    }
    shownBefore_ = true;
    lastShownMs_ = clock_.NowMs();
}

}  // namespace designer
