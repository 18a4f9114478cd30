#include "controls/mtimer.h"

#include <array>

#include "net/reactor.h"
#include "platform/monotonic_clock.h"

namespace upd::controls {
namespace {

struct TimerTable {
    std::array<CTimer*, kTimerSlots + 1> slots{};  // slot 0 unused: slots count from 1
    std::int16_t highest = 0;
};

TimerTable& table() {
    static TimerTable t;
    return t;
}

// Milliseconds since boot, as the system hands to timer callbacks.
std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(platform::monotonicMs());
}

}  // namespace

bool TimerCreate(CTimer& timer) {
    net::Reactor& reactor = net::mainReactor();
    const net::Reactor::TimerId id = reactor.setTimer(
        timer.m_Interval,
        [](net::Reactor::TimerId fired) { TimerProc(0, kTimerMessage, fired, tickCount()); });
    if (id == 0) {
        timer.m_TimerID = 0;
        timer.m_Interval = 0;
        return false;
    }
    timer.m_TimerID = static_cast<std::int32_t>(id);
    TimerTable& t = table();
    for (int slot = 1; slot <= kTimerSlots; ++slot) {
        if (t.slots[static_cast<std::size_t>(slot)] == nullptr) {
            t.slots[static_cast<std::size_t>(slot)] = &timer;
            if (slot > t.highest) {
                t.highest = static_cast<std::int16_t>(slot);
            }
            return true;
        }
    }
    // No slot: a timer left running here could never be reached or stopped again.
    reactor.killTimer(id);
    timer.m_TimerID = 0;
    timer.m_Interval = 0;
    timer.raiseError(kTimerTableFull);
    return false;
}

bool TimerDestroy(CTimer& timer) {
    TimerTable& t = table();
    for (int slot = 1; slot <= t.highest; ++slot) {
        CTimer*& entry = t.slots[static_cast<std::size_t>(slot)];
        if (entry != nullptr && entry->m_TimerID == timer.m_TimerID) {
            net::mainReactor().killTimer(static_cast<net::Reactor::TimerId>(entry->m_TimerID));
            entry->m_TimerID = 0;
            entry = nullptr;
            return true;
        }
    }
    return false;
}

void TimerProc(std::intptr_t /*hwnd*/, std::uint32_t /*uMsg*/, std::uint32_t idEvent,
               std::uint32_t /*dwTime*/) {
    TimerTable& t = table();
    for (int slot = 1; slot <= t.highest; ++slot) {
        CTimer* entry = t.slots[static_cast<std::size_t>(slot)];
        if (entry != nullptr && static_cast<std::uint32_t>(entry->m_TimerID) == idEvent) {
            entry->PulseTimer();
            return;
        }
    }
}

std::int32_t timerIdOf(const CTimer& timer) {
    return timer.m_TimerID;
}

std::int16_t highestTimerSlot() {
    return table().highest;
}

int runningTimers() {
    int n = 0;
    for (const CTimer* entry : table().slots) {
        n += entry != nullptr ? 1 : 0;
    }
    return n;
}

}  // namespace upd::controls
