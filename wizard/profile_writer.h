// Internal to the profile-file functions (wizard/profile_file.h), not for other callers: the
// write behind tryWriteIniValues, which reads the file, sets the values and replaces the file
// whole (a temporary file beside it, fsync, rename), then refreshes the kept parsed copy.
#pragma once

#include <span>
#include <string>

#include "wizard/profile_file.h"

namespace upd::wizard::profile_detail {

// As tryWriteIniValues in wizard/profile_file.h.
IniWriteResult writeIniValues(const std::string& section, std::span<const IniEntry> entries,
                              const std::string& file, IniFileAccess access);

}  // namespace upd::wizard::profile_detail
