// Module `ini`: single values of Windows profile files (`update.ini`, `proxy.ini`), read and
// written the way the Windows profile functions do it. The file format and the parser are in
// wizard/profile_document.h; here are the files on disk, read with the system ANSI code page:
// the reads (with their kept parsed files) and the writes that replace a file whole.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "wizard/profile_document.h"

namespace upd::wizard {

// Larger files are not read: `update.ini` comes from a server, and a hostile one must not
// make the wizard take all memory. Such a file reads as empty and refuses writes.
inline constexpr std::uint64_t kMaxProfileFileBytes = std::uint64_t{64} << 20;

// The value of `key` in `section` of `file`, UTF-8; "" when the file, the section or the
// key is absent or the file cannot be read. Uses the system code page.
//
// Parsed files are kept (up to 8, each with a read-only descriptor) and reused while the file
// they were read from keeps its device, inode, size, modification and change times
// (nanoseconds) and links, and the path still names it; the path itself is looked up again
// at most every 100 ms, since only a change of what the path names (a folder along it
// replaced, a link pointed elsewhere) escapes the other checks. A write through WriteIniValue
// refreshes the kept copy. Not seen: a change that keeps size and both times equal, possible only
// within one tick of the file system clock.
std::string ReadIniValue(const std::string& section, const std::string& key,
                         const std::string& file);

// Sets one value; failures go unnoticed, as on Windows. See tryWriteIniValue.
void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file);

// Sets one value and says whether it worked. The new content is written to a temporary
// file in the same folder (created exclusively), flushed to disk and renamed over `file`,
// so a failure or a crash leaves the old file whole. An existing file keeps its permission
// bits; a new one is readable and writable by its owner only (0600). A symbolic link is
// followed and the file it names is replaced. (IniFileAccess::Shared below.)
[[nodiscard]] IniWriteResult tryWriteIniValue(const std::string& section, const std::string& key,
                                              const std::string& value, const std::string& file);

// Who may see the file a write leaves behind, and whether a link at its path is followed.
enum class IniFileAccess {
    Shared,  // as tryWriteIniValue: permission bits kept, a symbolic link followed
    // For a file that holds a secret (`proxy.ini`, the proxy password): the file is always
    // left 0600, an existing 0644 one included, and nothing is read or written through a
    // symbolic link. A link at `file` is replaced by the new regular file, which holds only
    // the values written: the rename takes the link's own place, and what the link named is
    // neither read nor changed. Anything else there that is not a regular file (a named
    // pipe, a folder) is refused with ReadFailed, without waiting on it.
    Private,
};

struct IniEntry {
    std::string_view key;
    std::string_view value;
};

// Sets several values of one section with one write: one new file, one rename, as in
// tryWriteIniValue. An entry refused (InvalidName, InvalidValue) does not stop the others;
// the result is the first refusal, or the failure of the write, which leaves the file as
// it was. When every entry is refused, nothing is written.
[[nodiscard]] IniWriteResult tryWriteIniValues(const std::string& section,
                                               std::span<const IniEntry> entries,
                                               const std::string& file, IniFileAccess access);

// How many times ReadIniValue has read and parsed a file since the program started; a
// diagnostic that shows whether the parsed-file cache works.
std::uint64_t profileFileLoadCount();

}  // namespace upd::wizard
