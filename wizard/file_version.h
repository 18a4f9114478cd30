// Version helpers shared by the wizard pages: the product version of a local file as a
// version key, the older-than rule, the extension of a file name and the parent of a URL.
//
// All text is UTF-8; positions and lengths that matter to the rules count characters. None
// of these functions fails: an unreadable file or a missing entry gives the key "0".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace upd::wizard {

// The version key of entry `entry` (e.g. "ProductVersion") of the file's version
// information: "1.0.0.3" gives "1003". "0" when the file cannot be read, has no version
// information, or the entry is not in it. Reads the text in the system code page.
std::string GetFileVersionText(const std::string& path, std::string_view entry);

// The same on a block already read (the bytes of a VS_VERSIONINFO), in code page `cp`:
// every UTF-16 code unit of the block becomes the character the code page makes of it,
// the entry name is searched without regard to ASCII case, and the value is the text
// between the next NUL characters. "0" when the entry or its NULs are not found.
std::string versionKeyFromBlock(std::span<const std::uint8_t> block, std::string_view entry,
                                platform::CodePage cp);

// `text` without any occurrence of `character` (binary comparison): RemoveChar("1..2", ".")
// gives "12". An empty `character` leaves the text as it is.
std::string RemoveChar(std::string_view text, std::string_view character);

// The text after the last ".": "archive.tar.gz" gives "gz", "readme" gives "readme",
// "name." gives "".
std::string GetExtension(std::string_view name);

// The URL without its last path segment: "http://host/a/b/" and "http://host/a/b" give
// "http://host/a". A "/" at or before the 8th character does not count (it belongs to
// "http://"), and neither does a "/" as the last character; with no other "/" the result
// is empty.
std::string ParentUrl(std::string_view url);

// The older-than rule: the local file is older when its version key sorts before the
// announced key in binary character order (not numerically). Examples in the .cpp.
bool isOlderVersion(std::string_view localKey, std::string_view announcedKey);

}  // namespace upd::wizard
