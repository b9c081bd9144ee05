#pragma once
// Where the time of an object capture goes: decorators of the capture's
// ports that time every call on the performance counter and sort it into
// the phase of the capture it belongs to (the moves to the tree's top, the
// typing of the tree path, the copy keystroke, the wait for the copy, the
// reading of the formats, the log line). Only the benchmark uses them.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "designer/DesignerPorts.h"
#include "platform/Clipboard.h"

namespace bench {

// Call counts and times per "phase.operation", and the objects seen. Times
// are nanoseconds of `now` (by default the steady clock).
class TPhaseTimes {
public:
    explicit TPhaseTimes(std::function<std::int64_t()> now = {});
    // The time since the end of the last timed call goes to kOther (the walk,
    // the document), and the call's own time to `what`.
    void Add(const std::string& what, std::int64_t start, std::int64_t end);
    // Add under the current stage's name ("1 navigate.", "2 type.", ...).
    void AddStaged(const std::string& what, std::int64_t start, std::int64_t end);
    std::int64_t Now() const { return now_(); }
    // "Before the copy", "waiting for it", "reading it": set by the ports.
    enum class TStage { Navigate, Type, Copy, Wait, Read, Log };
    TStage Stage = TStage::Navigate;
    int Objects = 0;
    // One line per operation: calls per object, ms per object, ms per call.
    std::wstring Table() const;

    struct TEntry {
        long long Calls = 0;
        std::int64_t Nanoseconds = 0;
    };
    const std::map<std::string, TEntry>& Entries() const { return entries_; }
    static constexpr const char* kOther = "7 other (walk, document, between calls)";

private:
    std::function<std::int64_t()> now_;
    std::map<std::string, TEntry> entries_;
    std::optional<std::int64_t> lastEnd_;
};

class TTimedTree : public designer::ITreeWindow {
public:
    TTimedTree(designer::ITreeWindow& inner, TPhaseTimes& times) : inner_(inner), times_(times) {}
    void KeyDown(std::uint8_t vk) override;
    void Char(std::uint8_t code) override;

private:
    designer::ITreeWindow& inner_;
    TPhaseTimes& times_;
};

class TTimedKeyboard : public designer::IKeyboard {
public:
    TTimedKeyboard(designer::IKeyboard& inner, TPhaseTimes& times) : inner_(inner), times_(times) {}
    void ActivateLayout(std::string_view klid) override;
    void KeyEvent(std::uint8_t vk, bool up) override;

private:
    designer::IKeyboard& inner_;
    TPhaseTimes& times_;
};

class TTimedClock : public platform::IClock {
public:
    TTimedClock(platform::IClock& inner, TPhaseTimes& times) : inner_(inner), times_(times) {}
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() override;

private:
    platform::IClock& inner_;
    TPhaseTimes& times_;
};

class TTimedClipboard : public platform::IClipboard {
public:
    TTimedClipboard(platform::IClipboard& inner, TPhaseTimes& times) : inner_(inner), times_(times) {}
    std::uint32_t SequenceNumber() override;
    std::uint32_t RegisterFormat(std::string_view name) override;
    std::uintptr_t Owner() override;
    bool OwnerAnswers(std::uint32_t waitMs) override;
    bool IsFormatAvailable(std::uint32_t id) override;
    bool Open() override;
    void Close() override;
    bool ReadFormat(std::uint32_t id, const std::function<void(const char*, std::size_t)>& take) override;
    void SetText(const std::string& text1251) override;

private:
    platform::IClipboard& inner_;
    TPhaseTimes& times_;
};

class TTimedLog : public designer::ILogSink {
public:
    TTimedLog(designer::ILogSink& inner, TPhaseTimes& times) : inner_(inner), times_(times) {}
    void AddLine(const std::string& line) override;

private:
    designer::ILogSink& inner_;
    TPhaseTimes& times_;
};

}  // namespace bench
