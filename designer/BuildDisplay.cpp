#include "designer/BuildDisplay.h"

#include <utility>

namespace designer {

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
