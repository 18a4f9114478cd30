// The length in bytes update.ini announces for a file it makes the wizard download: Size<n>
// of [Ver] and [Time], UpSize (the full package), UpdateSize (update.exe) and MoveSize
// (FileMove.exe). The download plan carries it to page 4, which never lets a download grow
// past it; updtool lint checks it against the release folder.
//
// The text is ASCII digits only, 0 to 2^63 - 1: "1048576" and "007" are sizes; "", " 12",
// "+12", "12k", "1e6", "1.0" and "9223372036854775808" are not. Hostile input: the digits
// are read with an overflow check, never by a library call that saturates or skips blanks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wizard/update_ini_file.h"

namespace upd::wizard {

// The size `text` spells; nothing when it spells none.
std::optional<std::int64_t> parseAnnouncedSize(std::string_view text);

struct SizeReading {
    std::optional<std::int64_t> size;  // nothing when absent or malformed
    bool malformed = false;            // present, but no size: the plan fails
};

// An absent key is no size; a present one must spell a size ("Size1=" does not).
SizeReading readAnnouncedSize(const IniValue& value);

// The plan's and lint's words for a malformed one: "is not a size in bytes (ASCII digits,
// at most 9223372036854775807): \"12k\"".
std::string malformedSizeText(std::string_view text);

}  // namespace upd::wizard
