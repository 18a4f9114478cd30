// Files of the publishing commands: read whole with a bound, created only where nothing is
// (keys), or written beside and renamed over (update.ini, its signature), so a failure never
// leaves a half-written file or loses the one that was there.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace updtool {

struct ReadResult {
    std::optional<std::string> bytes;  // nullopt on failure
    std::string error;                 // "cannot read PATH: <system text>", or "PATH is larger ..."
    bool missing = false;              // the failure is that nothing is at the path
    bool tooLarge = false;             // the failure is the file's size
};

// The whole regular file, if it holds at most `limit` bytes.
ReadResult readWholeFile(const std::string& path, std::uint64_t limit);

// Creates `path` with O_EXCL and exactly `mode`, writes `bytes` and flushes them to disk. An
// existing file (or link) is never touched: that is an error. On any failure nothing is left
// at the path. Returns "" or the error text.
std::string createExclusive(const std::string& path, std::string_view bytes, mode_t mode);

// Writes `bytes` to a new file in `path`'s folder and renames it over `path`. Returns "" or
// the error text; `path` is then as it was.
std::string writeBeside(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace updtool
