#include "PhaseTimer.h"

#include <chrono>
#include <cwchar>

#include "designer/DesignerInterface.h"

namespace bench {

namespace {

const char* StageName(TPhaseTimes::TStage stage) {
    switch (stage) {
    case TPhaseTimes::TStage::Navigate: return "1 navigate";
    case TPhaseTimes::TStage::Type: return "2 type";
    case TPhaseTimes::TStage::Copy: return "3 copy";
    case TPhaseTimes::TStage::Wait: return "4 wait";
    case TPhaseTimes::TStage::Read: return "5 read";
    case TPhaseTimes::TStage::Log: return "6 log";
    }
    return "?";
}

}  // namespace

TPhaseTimes::TPhaseTimes(std::function<std::int64_t()> now) : now_(std::move(now)) {
    if (!now_)
        now_ = [] {
            return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::steady_clock::now().time_since_epoch())
                                                 .count());
        };
}

void TPhaseTimes::Add(const std::string& what, std::int64_t start, std::int64_t end) {
    if (lastEnd_ && start > *lastEnd_) {
        TEntry& other = entries_[kOther];
        ++other.Calls;
        other.Nanoseconds += start - *lastEnd_;
    }
    TEntry& e = entries_[what];
    ++e.Calls;
    e.Nanoseconds += end - start;
    lastEnd_ = end;
}

void TPhaseTimes::AddStaged(const std::string& what, std::int64_t start, std::int64_t end) {
    Add(std::string(StageName(Stage)) + "." + what, start, end);
}

std::wstring TPhaseTimes::Table() const {
    std::wstring out;
    const double objects = Objects > 0 ? Objects : 1;
    double total = 0;
    for (const auto& [name, e] : entries_) {
        const double ms = static_cast<double>(e.Nanoseconds) / 1e6;
        total += ms;
        wchar_t line[256];
        const std::wstring wide(name.begin(), name.end());  // ASCII
        swprintf(line, 256, L"  %-48ls %7.1f calls/object %8.3f ms/object %8.3f ms/call\n", wide.c_str(),
                 static_cast<double>(e.Calls) / objects, ms / objects, ms / static_cast<double>(e.Calls));
        out += line;
    }
    wchar_t line[128];
    swprintf(line, 128, L"  total %.3f ms/object over %d objects\n", total / objects, Objects);
    return out + line;
}

void TTimedTree::KeyDown(std::uint8_t vk) {
    const std::int64_t t0 = times_.Now();
    inner_.KeyDown(vk);
    times_.AddStaged(vk == designer::kVkLeft ? "SendMessage WM_KEYDOWN Left" : "SendMessage WM_KEYDOWN Right", t0,
                     times_.Now());
}

void TTimedTree::Char(std::uint8_t code) {
    times_.Stage = TPhaseTimes::TStage::Type;
    const std::int64_t t0 = times_.Now();
    inner_.Char(code);
    times_.AddStaged("SendMessage WM_CHAR", t0, times_.Now());
}

void TTimedKeyboard::ActivateLayout(std::string_view klid) {
    const std::int64_t t0 = times_.Now();
    inner_.ActivateLayout(klid);
    times_.AddStaged("ActivateLayout", t0, times_.Now());
}

void TTimedKeyboard::KeyEvent(std::uint8_t vk, bool up) {
    times_.Stage = TPhaseTimes::TStage::Copy;
    const std::int64_t t0 = times_.Now();
    inner_.KeyEvent(vk, up);
    times_.AddStaged("keybd_event", t0, times_.Now());
    times_.Stage = TPhaseTimes::TStage::Wait;
}

void TTimedClock::Sleep(std::uint32_t ms) {
    const std::int64_t t0 = times_.Now();
    inner_.Sleep(ms);
    times_.AddStaged("Sleep(" + std::to_string(ms) + ")", t0, times_.Now());
}

std::uint64_t TTimedClock::NowMs() {
    const std::int64_t t0 = times_.Now();
    const std::uint64_t now = inner_.NowMs();
    times_.AddStaged("NowMs", t0, times_.Now());
    return now;
}

std::uint32_t TTimedClipboard::SequenceNumber() {
    const std::int64_t t0 = times_.Now();
    const std::uint32_t n = inner_.SequenceNumber();
    times_.AddStaged("GetClipboardSequenceNumber", t0, times_.Now());
    return n;
}

std::uintptr_t TTimedClipboard::Owner() {
    const std::int64_t t0 = times_.Now();
    const std::uintptr_t owner = inner_.Owner();
    times_.AddStaged("GetClipboardOwner", t0, times_.Now());
    return owner;
}

bool TTimedClipboard::OwnerAnswers(std::uint32_t waitMs) {
    const std::int64_t t0 = times_.Now();
    const bool answered = inner_.OwnerAnswers(waitMs);
    times_.AddStaged("WM_NULL to the clipboard owner", t0, times_.Now());
    return answered;
}

std::uint32_t TTimedClipboard::RegisterFormat(std::string_view name) {
    const std::int64_t t0 = times_.Now();
    const std::uint32_t id = inner_.RegisterFormat(name);
    times_.AddStaged("RegisterClipboardFormat", t0, times_.Now());
    return id;
}

bool TTimedClipboard::IsFormatAvailable(std::uint32_t id) {
    const std::int64_t t0 = times_.Now();
    const bool ok = inner_.IsFormatAvailable(id);
    times_.AddStaged("IsClipboardFormatAvailable", t0, times_.Now());
    return ok;
}

bool TTimedClipboard::Open() {
    const std::int64_t t0 = times_.Now();
    const bool ok = inner_.Open();
    times_.AddStaged(ok ? "OpenClipboard" : "OpenClipboard (refused)", t0, times_.Now());
    return ok;
}

void TTimedClipboard::Close() {
    const std::int64_t t0 = times_.Now();
    inner_.Close();
    times_.AddStaged("CloseClipboard", t0, times_.Now());
}

bool TTimedClipboard::ReadFormat(std::uint32_t id, const std::function<void(const char*, std::size_t)>& take) {
    times_.Stage = TPhaseTimes::TStage::Read;
    const std::int64_t t0 = times_.Now();
    const bool ok = inner_.ReadFormat(id, take);
    times_.AddStaged("GetClipboardData", t0, times_.Now());
    return ok;
}

void TTimedClipboard::SetText(const std::string& text1251) { inner_.SetText(text1251); }

void TTimedLog::AddLine(const std::string& line) {
    times_.Stage = TPhaseTimes::TStage::Log;
    const std::int64_t t0 = times_.Now();
    inner_.AddLine(line);
    times_.AddStaged("AddLine", t0, times_.Now());
    times_.Stage = TPhaseTimes::TStage::Navigate;
    ++times_.Objects;
}

}  // namespace bench
