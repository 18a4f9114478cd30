// MTimer: the table of running CTimer objects (100 slots, numbered 1 to 100) and the
// callback through which the reactor's timers reach them. Everything runs on the program's
// one thread; the table refers to timers without owning them.
#pragma once

#include <cstdint>

#include "controls/ctimer.h"

namespace upd::controls {

inline constexpr int kTimerSlots = 100;
// The message number a timer callback receives (WM_TIMER).
inline constexpr std::uint32_t kTimerMessage = 0x0113;

// Starts a reactor timer with the timer's Interval and puts the timer into the first empty
// slot. False when the reactor cannot make a timer (TimerID and Interval become 0) or when
// all slots are taken (the timer just started is stopped again, and error 13651 is raised
// through the timer object).
bool TimerCreate(CTimer& timer);

// Stops the reactor timer of the first slot whose timer has this timer's TimerID and
// empties the slot. False when no slot matches.
bool TimerDestroy(CTimer& timer);

// The reactor's callback: pulses the timer of the first slot with that TimerID.
void TimerProc(std::intptr_t hwnd, std::uint32_t uMsg, std::uint32_t idEvent, std::uint32_t dwTime);

// The timer's reactor timer id, 0 when it is stopped.
std::int32_t timerIdOf(const CTimer& timer);
// The highest slot ever used (never lowered) and the number of slots holding a timer.
std::int16_t highestTimerSlot();
int runningTimers();

}  // namespace upd::controls
