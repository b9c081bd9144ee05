#pragma once
// What the form shows of a running build: the log's new lines and the
// progress "N из M", paced so that redrawing the log never costs as much as
// the capture itself.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "designer/DesignerPorts.h"
#include "platform/Clipboard.h"

namespace designer {

// Each change to the log memo costs the window system a redraw of the memo
// and its scroll bar, under Wine several milliseconds, which is as much as a
// whole object's capture; so the screen is updated at most once per
// interval, with everything that came since. A line waits little more than
// that: it goes out with the next line or progress that is due, at the
// build's next wait once due (ShowIfDue, from the clock the capture sleeps
// on), or at the latest when the build ends (ShowNow).
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
