// SHA-256 digests of the files of an update set: update.ini announces one per file (Sha256<n>
// in [Ver] and [Time]; UpSha256, UpdateSha256 and MoveSha256 in [Update]), as 64 lower-case
// hex digits, and a downloaded file counts only when its digest is the announced one.
//
// Files are read in 1 MiB slices, never whole, so a file of any size (over 2 GiB included)
// takes constant memory. libsodium computes the digest.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace upd::wizard {

// The file's digest in lower-case hex, or nullopt with `error` (when given) set to the
// system's text of the failure when the file cannot be opened or read, or is not a regular
// file (a named pipe is never waited on).
std::optional<std::string> sha256FileHex(const std::string& path, std::string* error = nullptr);

// The digest of `bytes` in lower-case hex.
std::string sha256Hex(std::string_view bytes);

// True for exactly 64 digits 0-9 and a-f. Upper case is refused: update.ini's digests are
// lower case, and one spelling per digest keeps text comparison exact.
bool isSha256Hex(std::string_view text);

}  // namespace upd::wizard
