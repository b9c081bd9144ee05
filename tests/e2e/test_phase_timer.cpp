// The benchmark's phase timer: every port call of a capture is counted under
// the phase it belongs to, and time spent between calls under "other".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "designer/DesignerInterface.h"
#include "bench/wizard/PhaseTimer.h"

namespace {

// Ports whose calls take a fixed time on a fake clock (nanoseconds).
struct TFakeTime {
    std::int64_t Now = 0;
};

class TStepTree : public designer::ITreeWindow {
public:
    explicit TStepTree(TFakeTime& t) : t_(t) {}
    void KeyDown(std::uint8_t) override { t_.Now += 2; }
    void Char(std::uint8_t) override { t_.Now += 3; }

private:
    TFakeTime& t_;
};

class TStepKeyboard : public designer::IKeyboard {
public:
    explicit TStepKeyboard(TFakeTime& t) : t_(t) {}
    void ActivateLayout(std::string_view) override { t_.Now += 1; }
    void KeyEvent(std::uint8_t, bool) override { t_.Now += 1; }

private:
    TFakeTime& t_;
};

class TStepClock : public platform::IClock {
public:
    explicit TStepClock(TFakeTime& t) : t_(t) {}
    void Sleep(std::uint32_t ms) override { t_.Now += std::int64_t{ms} * 1000000; }
    std::uint64_t NowMs() override { return static_cast<std::uint64_t>(t_.Now / 1000000); }

private:
    TFakeTime& t_;
};

class TStepClipboard : public platform::IClipboard {
public:
    explicit TStepClipboard(TFakeTime& t) : t_(t) {}
    std::uint32_t SequenceNumber() override { return Step(1), 7; }
    std::uint32_t RegisterFormat(std::string_view) override { return Step(1), 0xC001; }
    std::uintptr_t Owner() override { return Step(1), 0x10; }
    bool OwnerAnswers(std::uint32_t) override { return Step(1), true; }
    bool IsFormatAvailable(std::uint32_t) override { return Step(1), true; }
    bool Open() override { return Step(1), true; }
    void Close() override { Step(1); }
    bool ReadFormat(std::uint32_t, const std::function<void(const char*, std::size_t)>& take) override {
        Step(5);
        take("x", 1);
        return true;
    }
    void SetText(const std::string&) override {}

private:
    void Step(std::int64_t ns) { t_.Now += ns; }
    TFakeTime& t_;
};

class TStepLog : public designer::ILogSink {
public:
    explicit TStepLog(TFakeTime& t) : t_(t) {}
    void AddLine(const std::string&) override { t_.Now += 7; }

private:
    TFakeTime& t_;
};

}  // namespace

// One object as the capture drives it, then the first key of the next.
TEST(PhaseTimer, SortsEachCallIntoItsPhaseAndGapsIntoOther)
{
    TFakeTime time;
    bench::TPhaseTimes times([&time] { return time.Now; });
    TStepTree innerTree(time);
    TStepKeyboard innerKeyboard(time);
    TStepClock innerClock(time);
    TStepClipboard innerClipboard(time);
    TStepLog innerLog(time);
    bench::TTimedTree tree(innerTree, times);
    bench::TTimedKeyboard keyboard(innerKeyboard, times);
    bench::TTimedClock clock(innerClock, times);
    bench::TTimedClipboard clipboard(innerClipboard, times);
    bench::TTimedLog log(innerLog, times);

    keyboard.ActivateLayout("00000419");
    for (int i = 0; i < 10; ++i) tree.KeyDown(designer::kVkLeft);
    tree.KeyDown(designer::kVkRight);
    tree.Char('A');
    tree.Char('B');
    tree.KeyDown(designer::kVkRight);  // a dot of the tree path
    tree.Char('C');
    clipboard.RegisterFormat("1C:MD8 Data");
    clipboard.SequenceNumber();
    for (const bool up : {false, false, true, true}) keyboard.KeyEvent(designer::kVkInsert, up);
    clipboard.SequenceNumber();
    clock.Sleep(1);
    clipboard.IsFormatAvailable(0xC001);
    clipboard.Open();
    clipboard.Close();
    time.Now += 50;  // the capture's own work between two calls
    clipboard.Open();
    clipboard.ReadFormat(0xC001, [](const char*, std::size_t) {});
    clipboard.Close();
    log.AddLine("line");
    EXPECT_EQ(times.Objects, 1);
    tree.KeyDown(designer::kVkLeft);  // the next object

    struct {
        const char* name;
        long long calls;
        std::int64_t ns;
    } const expected[] = {
        {"1 navigate.ActivateLayout", 1, 1},
        {"1 navigate.SendMessage WM_KEYDOWN Left", 11, 22},
        {"1 navigate.SendMessage WM_KEYDOWN Right", 1, 2},
        {"2 type.SendMessage WM_CHAR", 3, 9},
        {"2 type.SendMessage WM_KEYDOWN Right", 1, 2},
        {"2 type.RegisterClipboardFormat", 1, 1},
        {"2 type.GetClipboardSequenceNumber", 1, 1},
        {"3 copy.keybd_event", 4, 4},
        {"4 wait.GetClipboardSequenceNumber", 1, 1},
        {"4 wait.Sleep(1)", 1, 1000000},
        {"4 wait.IsClipboardFormatAvailable", 1, 1},
        {"4 wait.OpenClipboard", 2, 2},
        {"4 wait.CloseClipboard", 1, 1},
        {"5 read.GetClipboardData", 1, 5},
        {"5 read.CloseClipboard", 1, 1},
        {"6 log.AddLine", 1, 7},
        {bench::TPhaseTimes::kOther, 1, 50},
    };
    for (const auto& e : expected) {
        const auto it = times.Entries().find(e.name);
        ASSERT_NE(it, times.Entries().end()) << e.name;
        EXPECT_EQ(it->second.Calls, e.calls) << e.name;
        EXPECT_EQ(it->second.Nanoseconds, e.ns) << e.name;
    }
    EXPECT_EQ(times.Entries().size(), std::size(expected)) << "no call counted elsewhere";
}
