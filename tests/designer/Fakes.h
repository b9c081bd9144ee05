#pragma once
// Stand-ins for the Designer, the clipboard and the clock: the capture is
// driven exactly as on Windows, and every message, keystroke and clipboard
// access is recorded for the tests to look at.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/PackageDocument.h"
#include "designer/DesignerInterface.h"
#include "designer/DesignerPorts.h"
#include "designer/ObjectCapture.h"
#include "tests/platform/ClipboardFakes.h"

namespace fakes {

using platform::fakes::TContents;
using platform::fakes::TFakeClipboard;
using platform::fakes::TFakeClock;

// One thing the Designer or the keyboard received.
struct TEvent {
    enum TKind { Layout, KeyDown, Char, KeyPress, KeyRelease } Kind;
    int Value;  // virtual key or character code; 0 for Layout
    bool operator==(const TEvent&) const = default;
};

// The Designer's tree and this thread's keyboard. Ctrl+Insert puts the
// six formats of the object typed into the tree on the clipboard after
// `latencyMs`; each holds "<format>|<tree path>", a zero byte and a tail that
// must never reach the package.
class TFakeDesigner : public designer::ITreeWindow, public designer::IKeyboard {
public:
    TFakeDesigner(TFakeClock& clock, TFakeClipboard& clipboard) : clock_(clock), clipboard_(clipboard) {}

    void KeyDown(std::uint8_t vk) override {
        events.push_back({TEvent::KeyDown, vk});
        if (vk == designer::kVkLeft) selection.clear();
        if (vk == designer::kVkRight && !selection.empty()) selection += '.';
    }
    void Char(std::uint8_t code) override {
        events.push_back({TEvent::Char, code});
        selection += static_cast<char>(code);
    }
    void ActivateLayout(std::string_view klid) override {
        events.push_back({TEvent::Layout, 0});
        layout = std::string(klid);
    }
    void KeyEvent(std::uint8_t vk, bool up) override {
        events.push_back({up ? TEvent::KeyRelease : TEvent::KeyPress, vk});
        if (vk == designer::kVkControl) control_ = !up;
        if (vk == designer::kVkInsert && !up && control_) Copy();
    }

    static std::string Payload(const std::string& format, const std::string& treePath) {
        return format + "|" + treePath + std::string(1, '\0') + "tail";
    }

    std::vector<TEvent> events;
    std::string layout;
    std::string selection;             // the tree path typed since the tree went to the top
    std::uint64_t latencyMs = 3;       // from Ctrl+Insert to the data on the clipboard
    std::uint64_t holdMs = 0;          // the clipboard stays open this long after that
    std::set<std::string> dropFormats; // formats the next copies lack
    std::uint64_t formatGapMs = 0;     // >0: the formats appear one at a time, this far apart

private:
    void Copy() {
        TContents contents;
        for (std::string_view f : package::kCommonFormats) contents[std::string(f)] = Payload(std::string(f), selection);
        contents[std::string(package::kFormatMngCmdObjects)] =
            Payload(std::string(package::kFormatMngCmdObjects), selection);
        for (const std::string& f : dropFormats) contents.erase(f);
        const std::uint64_t at = clock_.now + latencyMs;
        if (formatGapMs != 0) {
            // Each format added changes the clipboard; the full set comes last.
            TContents growing;
            std::uint64_t when = at;
            for (const auto& [name, data] : contents) {
                growing[name] = data;
                clipboard_.PutAt(when, growing, when);
                when += formatGapMs;
            }
            return;
        }
        clipboard_.PutAt(at, std::move(contents), at + holdMs);
    }

    TFakeClock& clock_;
    TFakeClipboard& clipboard_;
    bool control_ = false;
};

class TFakeDelay : public designer::IDelayField {
public:
    std::string Text() override { return text; }
    std::string text = "20";
};

class TFakeLog : public designer::ILogSink {
public:
    void AddLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// A capture command over the fakes, into a freshly set-up document.
struct TCaptureRig {
    TCaptureRig() { package::SetUpPackageDocument(package); }

    TFakeClock clock;
    TFakeClipboard clipboard{clock};
    TFakeDesigner designer{clock, clipboard};
    TFakeDelay delay;
    TFakeLog log;
    package::TPackageDocument package;
    designer::TObjectCapture capture{package, {designer, designer, clock, clipboard, delay, log}};
};

}  // namespace fakes
