// Drives a reactor until a condition holds, with a bound, so that no test waits forever.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>

#include "net/reactor.h"
#include "platform/monotonic_clock.h"

namespace upd::test {

// True when `done` held within timeoutMs.
inline bool pumpUntil(net::Reactor& reactor, const std::function<bool()>& done,
                      int timeoutMs = 5000) {
    const std::int64_t deadline = platform::monotonicMs() + timeoutMs;
    while (!done()) {
        const std::int64_t left = deadline - platform::monotonicMs();
        if (left <= 0 || !reactor.open()) {
            return false;
        }
        reactor.runOnce(std::min<std::int64_t>(left, 50));
    }
    return true;
}

// The same on the program's reactor.
inline bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    return pumpUntil(net::mainReactor(), done, timeoutMs);
}

}  // namespace upd::test
