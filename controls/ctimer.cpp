#include "controls/ctimer.h"

#include <cerrno>
#include <utility>

#include "controls/mtimer.h"

namespace upd::controls {
namespace {

// The base of object errors (vbObjectError), as a signed 32-bit number.
constexpr std::int64_t kObjectErrorBase = -2147221504;  // 0x80040000

}  // namespace

TimerError makeTimerError(std::int32_t code) {
    TimerError error;
    if (code < 1001) {
        error.Number = code;
        return error;
    }
    error.Number = static_cast<std::int32_t>(kObjectErrorBase + code);
    error.Source = std::string(program_invocation_short_name) + ".WindowProc";
    if (code == kTimerTableFull) {
        // The table holds 100 timers; the text has always said 10.
        error.Description = "No more than 10 timers allowed per class";
    } else if (code == kTimerCreateFailed) {
        error.Description = "Can't create system timer";
    }
    return error;
}

CTimer::~CTimer() {
    [[maybe_unused]] const auto ignored = setInterval(0);
}

std::optional<TimerError> CTimer::setInterval(std::int32_t value) {
    m_raised.reset();
    if (value >= 1) {
        if (value == m_Interval) {
            return std::nullopt;
        }
        if (m_Interval != 0) {
            TimerDestroy(*this);
        }
        m_Interval = value;
        if (!TimerCreate(*this)) {
            if (m_raised) {
                return std::exchange(m_raised, std::nullopt);
            }
            return makeTimerError(kTimerCreateFailed);
        }
        return std::nullopt;
    }
    if (m_Interval > 0) {
        m_Interval = 0;
        TimerDestroy(*this);
    }
    return std::nullopt;
}

void CTimer::PulseTimer() {
    // A copy: the handler may replace itself or destroy this timer.
    const auto handler = m_ThatTime;
    if (handler) {
        handler();
    }
}

}  // namespace upd::controls
