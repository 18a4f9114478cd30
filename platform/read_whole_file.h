// Reading a whole small file with a bound: update.ini, keys and signatures come from outside,
// and a hostile one must neither take all memory nor hang the reader (a named pipe is opened
// without waiting and refused, since only regular files are read).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/link_policy.h"

namespace upd::platform {

struct ReadResult {
    std::optional<std::string> bytes;  // nullopt on failure
    std::string error;                 // "cannot read PATH: <system text>", or "PATH is larger ..."
    bool missing = false;              // the failure is that nothing is at the path
    bool tooLarge = false;             // the failure is the file's size
    bool isLink = false;               // the failure is a symbolic link where a file was wanted
    std::uint32_t mode = 0;            // st_mode of the file read (its permission bits)
};

// The whole regular file, if it holds at most `limit` bytes.
ReadResult readWholeFile(const std::string& path, std::uint64_t limit,
                         LinkPolicy links = LinkPolicy::Follow);

}  // namespace upd::platform
