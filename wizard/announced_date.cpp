#include "wizard/announced_date.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>

namespace upd::wizard {
namespace {

constexpr bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int daysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
constexpr std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

class Reader {
  public:
    explicit Reader(std::string_view text) : m_text(text) {}

    // 1 to maxDigits decimal digits.
    std::optional<int> number(std::size_t maxDigits) {
        std::size_t n = 0;
        int value = 0;
        while (m_pos < m_text.size() && n < maxDigits &&
               std::isdigit(static_cast<unsigned char>(m_text[m_pos]))) {
            value = value * 10 + (m_text[m_pos] - '0');
            ++m_pos;
            ++n;
        }
        if (n == 0) {
            return std::nullopt;
        }
        return value;
    }
    bool take(char c) {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    std::optional<char> takeOneOf(std::string_view set) {
        if (m_pos < m_text.size() && set.find(m_text[m_pos]) != std::string_view::npos) {
            return m_text[m_pos++];
        }
        return std::nullopt;
    }
    std::size_t skipBlanks() {
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
            ++m_pos;
        }
        return m_pos - start;
    }
    bool atEnd() const { return m_pos == m_text.size(); }

  private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

std::optional<std::int64_t> calendarSeconds(int year, int month, int day, int hour, int minute,
                                            int second) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<std::int64_t> parseAnnouncedDate(std::string_view text) {
    Reader in(text);
    in.skipBlanks();
    const auto year = in.number(4);
    const auto separator = in.takeOneOf("-/.");
    if (!year || !separator) {
        return std::nullopt;
    }
    const auto month = in.number(2);
    if (!month || !in.take(*separator)) {
        return std::nullopt;
    }
    const auto day = in.number(2);
    if (!day) {
        return std::nullopt;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (in.skipBlanks() > 0 && !in.atEnd()) {
        const auto h = in.number(2);
        if (!h || !in.take(':')) {
            return std::nullopt;
        }
        const auto m = in.number(2);
        if (!m) {
            return std::nullopt;
        }
        hour = *h;
        minute = *m;
        if (in.take(':')) {
            const auto s = in.number(2);
            if (!s) {
                return std::nullopt;
            }
            second = *s;
        }
        in.skipBlanks();
    }
    if (!in.atEnd()) {
        return std::nullopt;
    }
    return calendarSeconds(*year, *month, *day, hour, minute, second);
}

std::optional<std::int64_t> localStandardWriteTime(const std::string& path) {
    // Non-blocking: a named pipe must not hold the wizard until someone writes to it.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (!ok) {
        return std::nullopt;
    }
    // `timezone` is the standard offset west of UTC; daylight saving is left out on purpose,
    // as the announced dates were always compared that way.
    tzset();
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) - static_cast<std::int64_t>(timezone);
}

}  // namespace upd::wizard
