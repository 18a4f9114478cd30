// Dates announced in update.ini ([Time] Date<n>) and the last-write time of a local file,
// both as "calendar seconds": the seconds from 1970-01-01 00:00:00 to the date and time
// the fields name, with no zone attached, so the two can be subtracted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace upd::wizard {

// Calendar seconds of a date and time; nothing for an impossible one (2005-02-30, 24:00).
std::optional<std::int64_t> calendarSeconds(int year, int month, int day, int hour = 0,
                                            int minute = 0, int second = 0);

// Reads an announced date: year first, then month and day, separated by "-", "/" or "."
// (one kind per date), optionally followed by blanks and a time "hh:mm" or "hh:mm:ss":
//   "2005-06-01 18:30:00", "2005/06/01", "2005.06.01 18:30".
// A date alone means midnight. Blanks around the text are ignored. Nothing for a text that
// does not read as such a date, or names an impossible one (the type-mismatch failure).
std::optional<std::int64_t> parseAnnouncedDate(std::string_view text);

// The last-write time of a local file in local standard time (the zone's standard offset,
// no daylight bias, fractions of a second dropped). Nothing when the file cannot be opened
// for reading or is not a regular file.
std::optional<std::int64_t> localStandardWriteTime(const std::string& path);

}  // namespace upd::wizard
