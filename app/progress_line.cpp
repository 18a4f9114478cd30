#include "app/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "platform/write_all.h"

namespace upd::app {
namespace {

constexpr std::int64_t kRedrawSpacingMs = 100;  // ten a second: more only costs the terminal
constexpr std::int64_t kSampleSpacingMs = 100;
// The speed is what arrived over this long: short enough to follow a link that slows down,
// long enough not to jump with each burst of packets.
constexpr std::int64_t kSpeedWindowMs = 5000;
// Below this the first packets, which arrive in one burst, would give a wild speed.
constexpr std::int64_t kFirstSpeedAfterMs = 500;

constexpr std::int64_t kKilobyte = 1024;
constexpr std::int64_t kMegabyte = 1024 * 1024;

// Tenths written with integers: printf's "%.1f" would follow LC_NUMERIC ("1,5" in some
// locales) and the line would change with the user's language.
std::string tenthsText(std::int64_t tenths) {
    return std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10);
}

// "0.5 KB", "1023.9 KB", "1.0 MB": rounded to the nearest tenth, and a size that would round
// up to 1024.0 KB is written in MB.
std::string sizeText(std::int64_t bytes) {
    const std::int64_t value = std::max<std::int64_t>(bytes, 0);
    const std::int64_t kbTenths =
        (value / kKilobyte) * 10 + ((value % kKilobyte) * 10 + kKilobyte / 2) / kKilobyte;
    if (kbTenths < 10240) {
        return tenthsText(kbTenths) + " KB";
    }
    const std::int64_t mbTenths =
        (value / kMegabyte) * 10 + ((value % kMegabyte) * 10 + kMegabyte / 2) / kMegabyte;
    return tenthsText(mbTenths) + " MB";
}

// "42 s", "1 min 05 s", "2 h 07 min".
std::string durationText(std::int64_t seconds) {
    const auto twoDigits = [](std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (seconds < 60) {
        return std::to_string(seconds) + " s";
    }
    if (seconds < 3600) {
        return std::to_string(seconds / 60) + " min " + twoDigits(seconds % 60) + " s";
    }
    return std::to_string(seconds / 3600) + " h " + twoDigits(seconds / 60 % 60) + " min";
}

bool terminalTakesEscapes(int fd) {
    const char* term = std::getenv("TERM");
    return ::isatty(fd) == 1 && !(term != nullptr && std::string_view(term) == "dumb");
}

}  // namespace

std::string progressText(std::int64_t doneBytes, std::int64_t totalBytes, double bytesPerSecond,
                         std::int64_t secondsLeft) {
    std::string text = sizeText(doneBytes);
    if (totalBytes >= 0) {
        // More than announced (a server that says too little) stays at 100 %.
        const int percent =
            totalBytes == 0 ? 100
                            : static_cast<int>(std::clamp(100.0 * static_cast<double>(doneBytes) /
                                                              static_cast<double>(totalBytes),
                                                          0.0, 100.0));
        text += " of " + sizeText(totalBytes) + " (" + std::to_string(percent) + " %)";
    }
    if (bytesPerSecond >= 0) {
        text += ", " + sizeText(std::llround(bytesPerSecond)) + "/s";
    }
    if (secondsLeft >= 0) {
        text += ", " + durationText(secondsLeft) + " left";
    }
    return text;
}

ProgressLine::ProgressLine(int fd, bool enabled)
    : m_fd(fd), m_active(enabled && terminalTakesEscapes(fd)) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::update(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t nowMs) {
    if (!m_active) {
        return;
    }
    if (!m_samples.empty() && (doneBytes < m_samples.back().bytes || nowMs < m_samples.back().ms)) {
        m_samples.clear();
    }
    if (m_samples.empty() || nowMs - m_samples.back().ms >= kSampleSpacingMs) {
        m_samples.push_back({nowMs, doneBytes});
    }
    // The oldest sample kept is the newest one that is a whole window old.
    while (m_samples.size() > 1 && nowMs - m_samples[1].ms >= kSpeedWindowMs) {
        m_samples.pop_front();
    }
    if (m_lastDrawMs && nowMs - *m_lastDrawMs < kRedrawSpacingMs && nowMs >= *m_lastDrawMs) {
        return;
    }
    m_lastDrawMs = nowMs;

    double speed = -1;
    std::int64_t secondsLeft = -1;
    const Sample& first = m_samples.front();
    if (nowMs - first.ms >= kFirstSpeedAfterMs) {
        speed = static_cast<double>(doneBytes - first.bytes) * 1000.0 /
                static_cast<double>(nowMs - first.ms);
        if (totalBytes >= 0 && speed > 0) {
            const double left =
                static_cast<double>(std::max<std::int64_t>(totalBytes - doneBytes, 0));
            secondsLeft = static_cast<std::int64_t>(std::ceil(std::min(left / speed, 1e9)));
        }
    }
    std::string text = progressText(doneBytes, totalBytes, speed, secondsLeft);
    // Text in the last column would move the cursor to the next row, out of reach of "\r".
    winsize size{};
    if (::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        text.size() >= static_cast<std::size_t>(size.ws_col)) {
        text.resize(size.ws_col - 1U);
    }
    (void)platform::writeAll(m_fd, "\r" + text + "\x1b[K");
    m_drawn = true;
}

void ProgressLine::finish() {
    if (m_drawn) {
        (void)platform::writeAll(m_fd, "\r\x1b[K");
        m_drawn = false;
    }
    m_lastDrawMs.reset();
    m_samples.clear();
}

}  // namespace upd::app
