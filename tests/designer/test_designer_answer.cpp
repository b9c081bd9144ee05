#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "designer/DesignerAnswer.h"
#include "package/PackageAssembly.h"
#include "tests/platform/ClipboardFakes.h"
#include "text/Error.h"
#include "text/Literal.h"

using namespace text::literals;

namespace {

using platform::fakes::TFakeClock;

// A Designer thread that handles what it is sent only from `busyUntil` on:
// each try before then waits its whole time (or, `hung`, is refused at once).
struct TBusyDesigner {
    TFakeClock& Clock;
    std::uint64_t BusyUntil;
    bool Hung = false;
    int Sends = 0;
    int Probes = 0;

    bool Try(std::uint32_t waitMs) {
        const std::uint64_t waited = Hung ? 0 : waitMs;
        if (Clock.now + waited >= BusyUntil) {
            Clock.now = std::max(Clock.now, BusyUntil);
            return true;
        }
        Clock.now += waited;
        return false;
    }
    designer::TAnswerTry Send() {
        return [this](std::uint32_t ms) { return ++Sends, Try(ms); };
    }
    designer::TAnswerTry Probe() {
        return [this](std::uint32_t ms) { return ++Probes, Try(ms); };
    }
};

TEST(DesignerAnswer, SlowDesignerIsWaitedForAndNothingIsSentTwice) {
    TFakeClock clock;
    // Answers at once: one send, no probe.
    TBusyDesigner quick{clock, 0};
    designer::AwaitAnswer(quick.Send(), quick.Probe(), clock, {});
    EXPECT_EQ(quick.Sends, 1);
    EXPECT_EQ(quick.Probes, 0);

    // Busy for 5 s, within the 30 s bound: the message goes once, WM_NULL
    // follows it until the thread answers; 200 ms waits, so 25 of them.
    TBusyDesigner slow{clock, clock.now + 5000};
    const std::uint64_t start = clock.now;
    designer::AwaitAnswer(slow.Send(), slow.Probe(), clock, {});
    EXPECT_EQ(slow.Sends, 1);
    EXPECT_EQ(slow.Probes, 24);
    EXPECT_EQ(clock.now - start, 5000u);

    // A thread the system calls hung refuses at once: tries come 50 ms apart.
    TBusyDesigner hung{clock, clock.now + 1000, true};
    designer::AwaitAnswer(hung.Send(), hung.Probe(), clock, {});
    EXPECT_EQ(hung.Sends + hung.Probes, 21);
}

TEST(DesignerAnswer, NoAnswerWithinTheBoundOrAStopEndsTheWait) {
    TFakeClock clock;
    TBusyDesigner never{clock, ~std::uint64_t{0} / 2};
    std::uint64_t start = clock.now;
    try {
        designer::AwaitAnswer(never.Send(), never.Probe(), clock, {30000, {}});
        ADD_FAILURE() << "no answer within the bound must raise an error";
    } catch (const package::TBuildStopped&) {
        ADD_FAILURE() << "not a stop";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, 25), std::string("Конфигуратор не отвечает."_cp1251));
    }
    EXPECT_EQ(clock.now - start, 30000u);

    // The stop is asked between two waits: a stop that comes 1 s into the
    // wait ends it within one more wait.
    start = clock.now;
    const designer::TAnswerPolicy policy{30000, [&] { return clock.now - start >= 1000; }};
    EXPECT_THROW(designer::AwaitAnswer(never.Send(), never.Probe(), clock, policy), package::TBuildStopped);
    EXPECT_EQ(clock.now - start, 1000u);
}

}  // namespace
