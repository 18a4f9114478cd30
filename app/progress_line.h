// One live line on a terminal that follows a download: how much has arrived, the share of
// the whole when its size is known, the speed over the last few seconds and the time left:
//
//   12.5 MB of 40.0 MB (31 %), 2.3 MB/s, 12 s left
//
// Each redraw is "\r", the text and "\x1b[K" (the rest of the old line cleared), at most ten
// a second however often update() is called, cut to the terminal's width so that it never
// wraps. finish() (and the destructor) clears the line, so that messages after it start on a
// clean line. When the descriptor is not a terminal (a pipe, a file, a log), when $TERM is
// "dumb" or when the line is disabled, nothing at all is written: scripts that read standard
// error see only the program's messages.
//
// Times are the caller's (milliseconds on a monotonic clock), so the line can be driven with
// made-up times. A failed write is ignored: the line is a courtesy, not the program's output.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace upd::app {

class ProgressLine {
  public:
    // The line on `fd`, which stays the caller's. `enabled` false (a --quiet option) keeps it
    // silent whatever `fd` is.
    explicit ProgressLine(int fd, bool enabled = true);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // True when the line is drawn at all.
    bool active() const { return m_active; }

    // `doneBytes` have arrived of `totalBytes` (-1 when unknown), at `nowMs`. Fewer bytes than
    // before (a transfer begun again) start the speed afresh.
    void update(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t nowMs);

    // Clears the line when one was drawn. The next update() draws a new one.
    void finish();

  private:
    struct Sample {
        std::int64_t ms = 0;
        std::int64_t bytes = 0;
    };

    int m_fd;
    bool m_active;
    bool m_drawn = false;
    std::optional<std::int64_t> m_lastDrawMs;
    std::deque<Sample> m_samples;  // oldest first, a tenth of a second apart at least
};

// The text of the line. `totalBytes` < 0: the size is unknown (no share); `bytesPerSecond` < 0:
// no speed yet; `secondsLeft` < 0: no time left. Sizes in KB below 1 MB, else in MB
// (1 MB = 1,048,576 bytes), with one decimal:
//   progressText(1572864, 10485760, 2411724.8, 65) == "1.5 MB of 10.0 MB (15 %), 2.3 MB/s,
//   1 min 05 s left"
//   progressText(512, -1, -1, -1) == "0.5 KB"
std::string progressText(std::int64_t doneBytes, std::int64_t totalBytes, double bytesPerSecond,
                         std::int64_t secondsLeft);

}  // namespace upd::app
