// Files of the publishing commands: read whole with a bound, created only where nothing is
// (keys), or written beside and renamed over (update.ini, its signature), so a failure never
// leaves a half-written file or loses the one that was there.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/read_whole_file.h"

namespace updtool {

// The bounded reader every command uses for the files it is given.
using upd::platform::ReadResult;
using upd::platform::readWholeFile;

// Creates `path` with O_EXCL and exactly `mode`, writes `bytes` and flushes them to disk. An
// existing file (or link) is never touched: that is an error. On any failure nothing is left
// at the path. Returns "" or the error text.
std::string createExclusive(const std::string& path, std::string_view bytes, mode_t mode);

// Writes `bytes` to a new file in `path`'s folder and renames it over `path`. Returns "" or
// the error text; `path` is then as it was.
std::string writeBeside(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace updtool
