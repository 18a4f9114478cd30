#include "wizard/release_serial.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/read_whole_file.h"
#include "wizard/announced_date.h"
#include "wizard/profile_writer.h"

namespace upd::wizard {
namespace {

std::string serialSystemText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// `width` decimal digits at `at`: one fixed-width field of Expires.
std::optional<int> expiresField(std::string_view text, std::size_t at, std::size_t width) {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> parseSerial(std::string_view text) {
    // from_chars alone would take a leading '-'; digits only, so "-1" and "+1" are no Serial.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseExpires(std::string_view text) {
    // "2026-07-31 12:30:00": the separators at fixed places, digits everywhere else.
    constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] != 'd' && text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    const auto year = expiresField(text, 0, 4);
    const auto month = expiresField(text, 5, 2);
    const auto day = expiresField(text, 8, 2);
    const auto hour = expiresField(text, 11, 2);
    const auto minute = expiresField(text, 14, 2);
    const auto second = expiresField(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    // Calendar seconds carry no zone: of a UTC time they are what timegm gives, and the
    // calendar's rules (leap years, days per month) are the ones announced dates follow.
    return calendarSeconds(*year, *month, *day, *hour, *minute, *second);
}

std::string expiresText(std::int64_t seconds) {
    const auto time = static_cast<time_t>(seconds);
    struct tm utc {};
    if (::gmtime_r(&time, &utc) == nullptr) {
        return std::to_string(seconds);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

AcceptedSerial readSerialFile(const std::string& path) {
    AcceptedSerial accepted;
    const platform::ReadResult file =
        platform::readWholeFile(path, kMaxSerialFileBytes, platform::LinkPolicy::NoFollow);
    if (file.missing) {
        return accepted;
    }
    if (!file.bytes) {
        accepted.error = file.error;
        return accepted;
    }
    std::string_view line = *file.bytes;
    if (line.ends_with('\n')) {
        line.remove_suffix(1);
        accepted.highest = parseSerial(line);
    }
    if (!accepted.highest) {
        accepted.error =
            path + " does not hold one line with a number from 1 to " + std::to_string(INT64_MAX);
    }
    return accepted;
}

std::string writeSerialFile(const std::string& path, std::int64_t serial) {
    if (serial < 1) {
        return "cannot write " + path + ": " + std::to_string(serial) + " is no Serial";
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            return path + " is a symbolic link";
        }
        if (!S_ISREG(info.st_mode)) {
            return "cannot write " + path + ": not a regular file";
        }
    } else if (errno != ENOENT) {
        return "cannot write " + path + ": " + serialSystemText(errno);
    }
    // mkostemp's 0600 would make the record unreadable to another user running the wizard,
    // and an unreadable record refuses every update. Until the folder is flushed the rename
    // may not survive a crash, and the lower record that came back would let an older copy in.
    using Step = profile_detail::ReplaceOutcome::Step;
    const profile_detail::ReplaceOutcome outcome =
        profile_detail::replaceFileWhole(path, std::to_string(serial) + '\n', 0644);
    switch (outcome.failed) {
        case Step::Create:
            return "cannot create a temporary file beside " + path + ": " +
                   serialSystemText(outcome.error);
        case Step::Write:
            return "cannot write " + path + ": " + serialSystemText(outcome.error);
        case Step::FlushFolder:
            return "cannot flush the folder of " + path + ": " + serialSystemText(outcome.error);
        case Step::None:
            break;
    }
    return {};
}

}  // namespace upd::wizard
