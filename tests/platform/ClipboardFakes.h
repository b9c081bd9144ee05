#pragma once
// Stand-ins for the clipboard and the clock: time moves only when someone
// sleeps, and every clipboard access is recorded for the tests to look at.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "designer/DesignerInterface.h"
#include "package/PackageDocument.h"
#include "platform/Clipboard.h"

namespace platform::fakes {

// Time that moves only when someone sleeps. `now` is real time. With
// `stepMs` set the clock behaves like a system tick: NowMs shows `now`
// rounded down to a step, and a Sleep lasts until the first step at or after
// the time asked for (so Sleep(1) may take a whole step).
class TFakeClock : public platform::IClock {
public:
    void Sleep(std::uint32_t ms) override {
        now += ms;
        if (stepMs != 0 && now % stepMs != 0) now += stepMs - now % stepMs;
    }
    std::uint64_t NowMs() override { return stepMs == 0 ? now : now - now % stepMs; }

    std::uint64_t now = 5'000'000;
    std::uint64_t stepMs = 0;
};

using TContents = std::map<std::string, std::string>;  // format name -> data block

class TFakeClipboard : public platform::IClipboard {
public:
    explicit TFakeClipboard(TFakeClock& clock) : clock_(clock) {}

    // Another program's copy, at once.
    void Put(TContents contents) { PutAt(clock_.now, std::move(contents), clock_.now, kOtherProgramWindow); }
    // A copy whose data appear at `atMs`; its writer keeps the clipboard open
    // until `heldUntilMs` and owns it from then on. Several calls queue
    // several changes (a writer that puts its formats there one at a time),
    // applied in order.
    void PutAt(std::uint64_t atMs, TContents contents, std::uint64_t heldUntilMs,
               std::uintptr_t ownerWindow = kDesignerWindow) {
        pending_.push_back(TPending{atMs, std::move(contents), heldUntilMs, ownerWindow});
        Update();
    }

    static constexpr std::uintptr_t kDesignerWindow = 0x1C;
    static constexpr std::uintptr_t kOtherProgramWindow = 0x2B;

    std::uint32_t SequenceNumber() override {
        Update();
        return untracked ? 0 : sequence_;
    }
    std::uint32_t RegisterFormat(std::string_view name) override {
        auto [it, added] = registered_.emplace(std::string(name), 0xC000 + static_cast<std::uint32_t>(registered_.size()));
        return it->second;
    }
    std::uintptr_t Owner() override {
        Update();
        return owner_;
    }
    bool OwnerAnswers(std::uint32_t waitMs) override {
        ++ownerQuestions;
        if (owner_ == 0 || clock_.now >= ownerSilentUntil) return true;
        clock_.now += waitMs;  // the whole wait passes without an answer
        return false;
    }
    bool IsFormatAvailable(std::uint32_t id) override {
        Update();
        return contents_.count(NameOf(id)) != 0;
    }
    bool Open() override {
        Update();
        ++openAttempts;
        // Another program's copy that lands just before this opening.
        if (replaceBeforeOpen == openAttempts) {
            contents_ = replacement;
            owner_ = replacementOwner;
            ++sequence_;
        }
        if (failOpens > 0) { --failOpens; return false; }
        if (clock_.now < heldUntil_) return false;
        EXPECT_FALSE(isOpen) << "the clipboard was opened twice";
        isOpen = true;
        return true;
    }
    void Close() override {
        EXPECT_TRUE(isOpen) << "the clipboard was closed without being open";
        isOpen = false;
        ++closes;
        // Another program that takes the clipboard as soon as it is free.
        if (replaceAfterClose == closes) {
            contents_ = replacement;
            owner_ = replacementOwner;
            ++sequence_;
        }
    }
    void SetText(const std::string& text1251) override {
        EXPECT_TRUE(isOpen) << "the clipboard was written without being open";
        texts.push_back(text1251);
        contents_ = {{std::string(package::kFormatText), text1251}};
        ++sequence_;
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
    int closes = 0;
    bool isOpen = false;
    int ownerQuestions = 0;              // OwnerAnswers calls
    std::uint64_t ownerSilentUntil = 0;  // the owner answers nothing before this time
    int replaceBeforeOpen = 0;           // >0: `replacement` lands just before that Open attempt
    int replaceAfterClose = 0;           // >0: `replacement` lands just after that Close
    TContents replacement;
    std::uintptr_t replacementOwner = kOtherProgramWindow;
    std::vector<std::string> reads;  // format names asked for by ReadFormat
    std::vector<std::string> texts;  // texts put there by SetText

private:
    struct TPending {
        std::uint64_t atMs;
        TContents contents;
        std::uint64_t heldUntilMs;
        std::uintptr_t owner;
    };

    void Update() {
        while (!pending_.empty() && clock_.now >= pending_.front().atMs) {
            contents_ = std::move(pending_.front().contents);
            heldUntil_ = pending_.front().heldUntilMs;
            owner_ = pending_.front().owner;
            pending_.pop_front();
            ++sequence_;
        }
    }
    std::string NameOf(std::uint32_t id) const {
        if (id == designer::kCfText) return std::string(package::kFormatText);
        if (id == designer::kCfUnicodeText) return std::string(package::kFormatUnicodeText);
        for (const auto& [name, value] : registered_)
            if (value == id) return name;
        ADD_FAILURE() << "unregistered format id " << id;
        return {};
    }

    TFakeClock& clock_;
    TContents contents_;
    std::deque<TPending> pending_;
    std::uint64_t heldUntil_ = 0;
    std::uintptr_t owner_ = kOtherProgramWindow;
    std::uint32_t sequence_ = 100;
    std::map<std::string, std::uint32_t> registered_;
};

}  // namespace platform::fakes
