#pragma once
// Stand-ins for the Designer, the clipboard and the clock: the capture is
// driven exactly as on Windows, and every message, keystroke and clipboard
// access is recorded for the tests to look at.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/PackageDocument.h"
#include "designer/DesignerInterface.h"
#include "designer/DesignerPorts.h"
#include "designer/ObjectCapture.h"

namespace fakes {

// Time that moves only when someone sleeps.
class TFakeClock : public designer::IClock {
public:
    void Sleep(std::uint32_t ms) override { now += ms; }
    std::uint64_t NowMs() override { return now; }

    std::uint64_t now = 5'000'000;
};

using TContents = std::map<std::string, std::string>;  // format name -> data block

class TFakeClipboard : public designer::IClipboard {
public:
    explicit TFakeClipboard(TFakeClock& clock) : clock_(clock) {}

    // Another program's copy, at once.
    void Put(TContents contents) { PutAt(clock_.now, std::move(contents), clock_.now); }
    // A copy whose data appear at `atMs`; its writer keeps the clipboard open
    // until `heldUntilMs`.
    void PutAt(std::uint64_t atMs, TContents contents, std::uint64_t heldUntilMs) {
        pending_ = TPending{atMs, std::move(contents), heldUntilMs};
        Update();
    }

    std::uint32_t SequenceNumber() override {
        Update();
        return untracked ? 0 : sequence_;
    }
    std::uint32_t RegisterFormat(std::string_view name) override {
        auto [it, added] = registered_.emplace(std::string(name), 0xC000 + static_cast<std::uint32_t>(registered_.size()));
        return it->second;
    }
    bool IsFormatAvailable(std::uint32_t id) override {
        Update();
        return contents_.count(NameOf(id)) != 0;
    }
    bool Open() override {
        Update();
        ++openAttempts;
        if (failOpens > 0) { --failOpens; return false; }
        if (clock_.now < heldUntil_) return false;
        EXPECT_FALSE(isOpen) << "the clipboard was opened twice";
        isOpen = true;
        return true;
    }
    void Close() override {
        EXPECT_TRUE(isOpen) << "the clipboard was closed without being open";
        isOpen = false;
    }
    bool ReadFormat(std::uint32_t id, const std::function<void(const char*, std::size_t)>& take) override {
        EXPECT_TRUE(isOpen) << "the clipboard was read without being open";
        const std::string name = NameOf(id);
        reads.push_back(name);
        auto it = contents_.find(name);
        if (it == contents_.end()) return false;
        // An exact-size copy, so that reading past the block is caught by ASan.
        std::vector<char> block(it->second.begin(), it->second.end());
        take(block.data(), block.size());
        return true;
    }

    bool untracked = false;          // the system gives sequence number 0 (no access to it)
    int failOpens = 0;               // the next this many Open calls fail
    int openAttempts = 0;
    bool isOpen = false;
    std::vector<std::string> reads;  // format names asked for by ReadFormat

private:
    struct TPending {
        std::uint64_t atMs;
        TContents contents;
        std::uint64_t heldUntilMs;
    };

    void Update() {
        if (pending_ && clock_.now >= pending_->atMs) {
            contents_ = std::move(pending_->contents);
            heldUntil_ = pending_->heldUntilMs;
            pending_.reset();
            ++sequence_;
        }
    }
    std::string NameOf(std::uint32_t id) const {
        if (id == designer::kCfText) return std::string(designer::kFormatText);
        if (id == designer::kCfUnicodeText) return std::string(designer::kFormatUnicodeText);
        for (const auto& [name, value] : registered_)
            if (value == id) return name;
        ADD_FAILURE() << "unregistered format id " << id;
        return {};
    }

    TFakeClock& clock_;
    TContents contents_;
    std::optional<TPending> pending_;
    std::uint64_t heldUntil_ = 0;
    std::uint32_t sequence_ = 100;
    std::map<std::string, std::uint32_t> registered_;
};

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

private:
    void Copy() {
        TContents contents;
        for (std::string_view f : designer::kCommonFormats) contents[std::string(f)] = Payload(std::string(f), selection);
        contents[std::string(designer::kFormatMngCmdObjects)] =
            Payload(std::string(designer::kFormatMngCmdObjects), selection);
        for (const std::string& f : dropFormats) contents.erase(f);
        const std::uint64_t at = clock_.now + latencyMs;
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
    TCaptureRig() { app::SetUpPackageDocument(package); }

    TFakeClock clock;
    TFakeClipboard clipboard{clock};
    TFakeDesigner designer{clock, clipboard};
    TFakeDelay delay;
    TFakeLog log;
    app::TPackageDocument package;
    designer::TObjectCapture capture{package, {designer, designer, clock, clipboard, delay, log}};
};

}  // namespace fakes
