// Time since an arbitrary fixed point that never jumps (CLOCK_MONOTONIC): for deadlines,
// timers and speeds, which must not move when the wall clock is set.
#pragma once

#include <time.h>

#include <cstdint>

namespace upd::platform {

inline std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

inline std::int64_t monotonicMs() {
    return monotonicNs() / 1'000'000;
}

}  // namespace upd::platform
