// The timer class on the program's reactor: one reactor timer per running CTimer, the
// 100-slot table and its error, pulses, and destruction (also from inside its own event).
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "controls/ctimer.h"
#include "controls/mtimer.h"
#include "net/reactor.h"
#include "tests/support/reactor_pump.h"

namespace upd::controls {
namespace {

// Each step sets Interval on the same timer and reads it back: a new positive value replaces
// the reactor timer (another one runs), the same value keeps it, zero or less stops it.
TEST(CTimer, IntervalStartsReplacesKeepsAndStopsOneReactorTimer) {
    // clang-format off
    struct Step { std::int32_t set; std::int32_t interval; bool running; bool replaced; };
    const Step steps[] = {{0, 0, false, false}, {-3, 0, false, false}, {500, 500, true, true},
                          {500, 500, true, false}, {200, 200, true, true}, {-1, 0, false, false}};
    // clang-format on
    const std::size_t before = net::mainReactor().timerCount();
    const int slotsBefore = runningTimers();
    CTimer t;
    std::int32_t id = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &step - steps << ": " << step.set);
        EXPECT_FALSE(t.setInterval(step.set));
        EXPECT_EQ(t.Interval(), step.interval);
        EXPECT_EQ(net::mainReactor().timerCount(), before + (step.running ? 1 : 0));
        EXPECT_EQ(runningTimers(), slotsBefore + (step.running ? 1 : 0));
        EXPECT_EQ(timerIdOf(t) != 0, step.running);
        EXPECT_EQ(step.running && timerIdOf(t) != id, step.replaced);
        id = timerIdOf(t);
    }
    EXPECT_FALSE(TimerDestroy(t));  // not in the table
}

// The callback pulses only the timer with that id. A handler may destroy its own timer,
// which stops the timer.
TEST(CTimer, RaisesThatTimeEveryIntervalUntilItsHandlerDestroysIt) {
    const std::size_t before = net::mainReactor().timerCount();
    const int slotsBefore = runningTimers();
    auto t = std::make_unique<CTimer>();
    int pulses = 0;
    t->setThatTime([&] {
        if (++pulses == 3) {
            t.reset();
        }
    });
    ASSERT_FALSE(t->setInterval(5));
    const auto id = static_cast<std::uint32_t>(timerIdOf(*t));
    TimerProc(0, kTimerMessage, id + 1000, 0);
    EXPECT_EQ(pulses, 0);
    TimerProc(0, kTimerMessage, id, 0);
    EXPECT_EQ(pulses, 1);
    EXPECT_TRUE(test::pumpUntil([&] { return t == nullptr; }));
    EXPECT_EQ(net::mainReactor().timerCount(), before);
    EXPECT_EQ(runningTimers(), slotsBefore);
}

// A timer without a slot could never be reached or stopped, so it is stopped at once.
TEST(CTimer, TheHundredAndFirstTimerRaises13651AndDoesNotRun) {
    const std::size_t before = net::mainReactor().timerCount();
    std::vector<std::unique_ptr<CTimer>> timers;
    for (int i = runningTimers(); i < kTimerSlots; ++i) {
        timers.push_back(std::make_unique<CTimer>());
        ASSERT_FALSE(timers.back()->setInterval(60'000));
    }
    CTimer extra;
    const auto error = extra.setInterval(60'000);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Number, -2147207853);  // 13651 + 0x80040000
    // The table holds 100 timers; the text has always said 10.
    EXPECT_EQ(error->Description, "No more than 10 timers allowed per class");
    EXPECT_EQ(error->Source, std::string(program_invocation_short_name) + ".WindowProc");
    EXPECT_EQ(extra.Interval(), 0);
    EXPECT_EQ(timerIdOf(extra), 0);
    EXPECT_EQ(net::mainReactor().timerCount(), before + timers.size());

    timers.front().reset();
    EXPECT_FALSE(extra.setInterval(60'000));     // a slot is free again
    EXPECT_EQ(highestTimerSlot(), kTimerSlots);  // never lowered

    // Codes up to 1000 pass bare; higher ones are object errors.
    EXPECT_EQ(makeTimerError(1000).Number, 1000);
    EXPECT_EQ(makeTimerError(1000).Source, "");
    EXPECT_EQ(makeTimerError(1001).Number, -2147221504 + 1001);
}

}  // namespace
}  // namespace upd::controls
