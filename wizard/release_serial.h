// Where signed update information stands in time. A signature proves who wrote update.ini, not
// when: a mirror could go on serving an older, genuinely signed file forever (a freeze), or an
// older release (a downgrade). So signed information also carries, in [Update],
//
//   Serial=202607011230            a whole number the vendor raises with every release
//   Expires=2026-07-31 12:30:00    UTC; after this second the information is no longer taken
//
// and the wizard keeps the highest Serial it has accepted in the application folder, in a file
// of its own (update.serial: the decimal number and LF), refusing any lower one later. An equal
// Serial is the same release fetched again, and is taken.
//
// How it fails: the parsers give nothing for text that is not exactly their form. The serial
// file's reader tells a missing file (nothing accepted yet) from one that is there but cannot
// be used, which is never read as "nothing accepted": that would let any old copy in again.
// The writer returns why it failed. Toolkit-free; the judgement of a loaded update.ini is
// information_file.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace upd::wizard {

// In the application folder, beside update.pub.
inline constexpr std::string_view kSerialFileName = "update.serial";
// 19 digits and a LF fill 20 bytes; a larger file is none of ours and is not read whole.
inline constexpr std::size_t kMaxSerialFileBytes = 64;

// A Serial: ASCII digits only, 1 .. 9223372036854775807. Nothing for "", "0", "+5", "5 ", "-1",
// "0x10", "1e3" or a number beyond the range ("9223372036854775808").
std::optional<std::int64_t> parseSerial(std::string_view text);

// An Expires: exactly "YYYY-MM-DD HH:MM:SS", a real UTC time, as seconds since 1970-01-01.
// Nothing for another shape ("2026-7-01 00:00:00", "2026-07-01", "2026-07-01T00:00:00") or an
// impossible time ("2026-02-29 00:00:00", "2026-04-31 ...", "... 24:00:00", "... 23:60:00").
std::optional<std::int64_t> parseExpires(std::string_view text);

// Seconds since 1970 (UTC) in Expires' form, which parseExpires reads back to the same value.
std::string expiresText(std::int64_t seconds);

// The highest Serial an application folder has accepted.
struct AcceptedSerial {
    std::optional<std::int64_t> highest;  // nothing: none accepted yet, or `error`
    std::string error;                    // set: the file is there but cannot be used

    explicit operator bool() const { return error.empty(); }
};

// Reads update.serial at `path`: missing is "none accepted yet"; a link (never followed), a
// folder or other non-regular file, a read error, more than kMaxSerialFileBytes, or anything
// but one line of a valid Serial ended by LF is an error.
AcceptedSerial readSerialFile(const std::string& path);

// Makes `serial` the content of `path` durably: written to a new file beside it, flushed,
// renamed over it, and the folder flushed, so a crash leaves the old record or the new one.
// A link at `path` is refused, neither followed nor replaced, as is anything but a regular
// file. Returns "" or why it failed.
std::string writeSerialFile(const std::string& path, std::int64_t serial);

}  // namespace upd::wizard
