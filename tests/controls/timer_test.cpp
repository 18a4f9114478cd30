// The timer class on the reactor's timers: one reactor timer per running CTimer, restarts,
// the 100-slot table and its error, the error numbers and texts, pulses, and destruction
// (also from inside its own event).
#include <time.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "controls/ctimer.h"
#include "controls/mtimer.h"
#include "net/reactor.h"

namespace upd::controls {
namespace {

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    net::Reactor& reactor = net::mainReactor();
    while (!done()) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1'000'000 >
            timeoutMs) {
            return false;
        }
        reactor.runOnce(20);
    }
    return true;
}

std::size_t reactorTimers() {
    return net::mainReactor().timerCount();
}

TEST(CTimer, SettingTheSameIntervalTwiceStartsOneTimer) {
    const std::size_t before = reactorTimers();
    CTimer t;
    EXPECT_FALSE(t.setInterval(500));
    const std::int32_t id = timerIdOf(t);
    EXPECT_NE(id, 0);
    EXPECT_FALSE(t.setInterval(500));
    EXPECT_EQ(timerIdOf(t), id);
    EXPECT_EQ(reactorTimers(), before + 1);
    EXPECT_EQ(t.Interval(), 500);
}

TEST(CTimer, ChangingTheIntervalReplacesTheTimer) {
    const std::size_t before = reactorTimers();
    CTimer t;
    ASSERT_FALSE(t.setInterval(500));
    const std::int32_t first = timerIdOf(t);
    ASSERT_FALSE(t.setInterval(200));
    EXPECT_NE(timerIdOf(t), first);
    EXPECT_EQ(reactorTimers(), before + 1);
    EXPECT_EQ(t.Interval(), 200);
}

TEST(CTimer, ZeroOrLessStopsARunningTimerAndLeavesAStoppedOneAlone) {
    const std::size_t before = reactorTimers();
    CTimer t;
    EXPECT_FALSE(t.setInterval(0));
    EXPECT_FALSE(t.setInterval(-3));
    EXPECT_EQ(t.Interval(), 0);
    EXPECT_EQ(reactorTimers(), before);
    ASSERT_FALSE(t.setInterval(100));
    EXPECT_FALSE(t.setInterval(-1));
    EXPECT_EQ(t.Interval(), 0);
    EXPECT_EQ(timerIdOf(t), 0);
    EXPECT_EQ(reactorTimers(), before);
}

TEST(CTimer, RaisesThatTimeEveryInterval) {
    CTimer t;
    int pulses = 0;
    t.setThatTime([&] { ++pulses; });
    t.setItem(std::string("owner data"));
    ASSERT_FALSE(t.setInterval(5));
    EXPECT_TRUE(pumpUntil([&] { return pulses >= 3; }));
    EXPECT_EQ(std::any_cast<std::string>(t.Item()), "owner data");
}

TEST(CTimer, DestructionStopsTheTimer) {
    const std::size_t before = reactorTimers();
    const int runningBefore = runningTimers();
    {
        CTimer t;
        ASSERT_FALSE(t.setInterval(50));
        EXPECT_EQ(runningTimers(), runningBefore + 1);
    }
    EXPECT_EQ(reactorTimers(), before);
    EXPECT_EQ(runningTimers(), runningBefore);
}

TEST(CTimer, AHandlerMayDestroyItsTimer) {
    auto t = std::make_unique<CTimer>();
    t->setThatTime([&] { t.reset(); });
    ASSERT_FALSE(t->setInterval(5));
    EXPECT_TRUE(pumpUntil([&] { return t == nullptr; }));
}

TEST(CTimer, TheHundredAndFirstTimerRaises13651AndDoesNotRun) {
    const std::size_t before = reactorTimers();
    std::vector<std::unique_ptr<CTimer>> timers;
    for (int i = runningTimers(); i < kTimerSlots; ++i) {
        timers.push_back(std::make_unique<CTimer>());
        ASSERT_FALSE(timers.back()->setInterval(60'000));
    }
    EXPECT_EQ(runningTimers(), kTimerSlots);
    EXPECT_EQ(highestTimerSlot(), kTimerSlots);
    CTimer extra;
    const auto error = extra.setInterval(60'000);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Number, -2147207853);  // 13651 + 0x80040000
    EXPECT_EQ(error->Description, "No more than 10 timers allowed per class");
    EXPECT_EQ(error->Source, std::string(program_invocation_short_name) + ".WindowProc");
    EXPECT_EQ(extra.Interval(), 0);
    EXPECT_EQ(timerIdOf(extra), 0);
    EXPECT_EQ(reactorTimers(), before + timers.size());  // the extra one was stopped again

    timers.front().reset();
    EXPECT_FALSE(extra.setInterval(60'000));     // a slot is free again
    EXPECT_EQ(highestTimerSlot(), kTimerSlots);  // never lowered
}

TEST(CTimer, ErrorNumbersAndTexts) {
    const TimerError small = makeTimerError(5);
    EXPECT_EQ(small.Number, 5);
    EXPECT_EQ(small.Description, "");
    EXPECT_EQ(small.Source, "");
    const TimerError cannot = makeTimerError(kTimerCreateFailed);
    EXPECT_EQ(cannot.Number, -2147207852);
    EXPECT_EQ(cannot.Description, "Can't create system timer");
    const TimerError other = makeTimerError(2000);
    EXPECT_EQ(other.Number, -2147221504 + 2000);
    EXPECT_EQ(other.Description, "");
    EXPECT_EQ(other.Source, std::string(program_invocation_short_name) + ".WindowProc");
}

TEST(MTimer, CallbackForAnUnknownTimerDoesNothing) {
    CTimer t;
    int pulses = 0;
    t.setThatTime([&] { ++pulses; });
    ASSERT_FALSE(t.setInterval(60'000));
    TimerProc(0, kTimerMessage, static_cast<std::uint32_t>(timerIdOf(t)) + 1000, 0);
    EXPECT_EQ(pulses, 0);
    TimerProc(0, kTimerMessage, static_cast<std::uint32_t>(timerIdOf(t)), 0);
    EXPECT_EQ(pulses, 1);
    EXPECT_FALSE(TimerDestroy(*std::make_unique<CTimer>()));
}

}  // namespace
}  // namespace upd::controls
