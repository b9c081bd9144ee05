#pragma once
// A build that can be watched and stopped between two objects: the capturing
// half of the build click with a monitor that is asked before each object.
// The main form pumps its messages there, so the log repaints, Esc or closing
// the form stops the build, and the progress "N из M" can be shown.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "designer/ObjectCapture.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Clipboard.h"
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

// What the form shows of a running build: the log's new lines and the
// progress "N из M". Each change to the log memo costs the window system a
// redraw of the memo and its scroll bar, under Wine several milliseconds,
// which is as much as a whole object's capture; so the screen is updated at
// most once per interval, with everything that came since. A line waits
// little more than that: it goes out with the next line or progress that is
// due, at the build's next wait once due (ShowIfDue, from the clock the
// capture sleeps on), or at the latest when the build ends (ShowNow).
class TBuildDisplay : public ILogSink {
public:
    struct TScreen {
        std::function<void(const std::vector<std::string>& lines)> AddLines;  // appends to the log, in order
        std::function<void(int number, int total)> Progress;
    };

    TBuildDisplay(platform::IClock& clock, std::uint32_t intervalMs, TScreen screen);

    void AddLine(const std::string& line) override;
    void SetProgress(int number, int total);
    // Shows what is pending if the last update is at least the interval ago.
    void ShowIfDue();
    // Shows what is pending now: before a message box, and when the build ends.
    void ShowNow();

private:
    platform::IClock& clock_;
    std::uint32_t intervalMs_;
    TScreen screen_;
    std::vector<std::string> lines_;
    int number_ = 0;
    int total_ = 0;
    bool progressPending_ = false;
    bool shownBefore_ = false;
    std::uint64_t lastShownMs_ = 0;
};

// A clock that gives a build display its chance to update before each sleep,
// so that lines appear while the capture waits for the Designer.
class TDisplayingClock : public platform::IClock {
public:
    TDisplayingClock(platform::IClock& inner, TBuildDisplay& display) : inner_(inner), display_(display) {}
    void Sleep(std::uint32_t ms) override {
        display_.ShowIfDue();
        inner_.Sleep(ms);
    }
    std::uint64_t NowMs() override { return inner_.NowMs(); }

private:
    platform::IClock& inner_;
    TBuildDisplay& display_;
};

}  // namespace designer
