// Internal to the wizard's own files, not for other callers: the write behind
// tryWriteIniValues (wizard/profile_file.h), which reads the file, sets the values and replaces
// the file whole, then refreshes the kept parsed copy; and that whole-file replacement, which
// the record of accepted serials (release_serial.h) uses too.
#pragma once

#include <sys/stat.h>

#include <span>
#include <string>
#include <string_view>

#include "wizard/profile_file.h"

namespace upd::wizard::profile_detail {

// As tryWriteIniValues in wizard/profile_file.h.
IniWriteResult writeIniValues(const std::string& section, std::span<const IniEntry> entries,
                              const std::string& file, IniFileAccess access);

// Writes `bytes` to a new file beside `target` (O_EXCL, `mode`), fsyncs it, renames it over
// `target` and fsyncs the folder: readers see the old file or the new one, never a part of
// either. `written`, when given, gets the new file's status.
struct ReplaceOutcome {
    enum class Step { None, Create, Write, FlushFolder };
    Step failed = Step::None;  // FlushFolder: the new content is in place, maybe not durably
    int error = 0;             // errno of that step
    std::string folder;        // where the temporary file was made
};
ReplaceOutcome replaceFileWhole(const std::string& target, std::string_view bytes, mode_t mode,
                                struct stat* written = nullptr);

}  // namespace upd::wizard::profile_detail
