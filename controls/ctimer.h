// CTimer: a window-less timer object that raises ThatTime every Interval milliseconds,
// driven by a timer of the program's reactor (net/reactor.h) through the module MTimer
// (mtimer.h), which maps the reactor's timer ids back to their objects.
//
// Ownership: the owner owns the CTimer; the module's table only refers to running timers,
// and the object leaves it when stopped or destroyed. A ThatTime handler may change the
// interval or destroy the object.
//
// Failure: setting Interval returns the error the timer object raises instead of throwing:
// 13651 when 100 timers already run (the timer is then stopped again), 13652 when the
// reactor cannot make a timer.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace upd::controls {

// An error raised by the timer object: its number (object errors carry the base
// 0x80040000), its description and its source.
struct TimerError {
    std::int32_t Number = 0;
    std::string Description;
    std::string Source;
};

inline constexpr std::int32_t kTimerTableFull = 13651;
inline constexpr std::int32_t kTimerCreateFailed = 13652;

// The error for `code`: below 1001 the code itself without source or description;
// otherwise code + 0x80040000 with the source "<program>.WindowProc" and the description
// of 13651/13652 (empty for other codes).
TimerError makeTimerError(std::int32_t code);

class CTimer {
  public:
    CTimer() = default;
    // Sets Interval to 0, which stops the timer.
    ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Data the owner keeps with the timer; never read by the class.
    const std::any& Item() const { return m_Item; }
    void setItem(std::any item) { m_Item = std::move(item); }

    std::int32_t Interval() const { return m_Interval; }
    // 1 or more and different: restarts the timer with the new interval. Equal: nothing.
    // Below 1: stops a running timer. Returns the error raised, if any.
    std::optional<TimerError> setInterval(std::int32_t value);

    // The ThatTime event (no arguments).
    void setThatTime(std::function<void()> handler) { m_ThatTime = std::move(handler); }
    // Raises ThatTime; called by the module's callback.
    void PulseTimer();

  private:
    friend bool TimerCreate(CTimer& timer);
    friend bool TimerDestroy(CTimer& timer);
    friend void TimerProc(std::intptr_t hwnd, std::uint32_t uMsg, std::uint32_t idEvent,
                          std::uint32_t dwTime);
    friend std::int32_t timerIdOf(const CTimer& timer);

    void raiseError(std::int32_t code) { m_raised = makeTimerError(code); }

    std::any m_Item;
    std::int32_t m_Interval = 0;
    std::int32_t m_TimerID = 0;
    std::function<void()> m_ThatTime;
    std::optional<TimerError> m_raised;
};

}  // namespace upd::controls
