// SetFromFont's choice: which face, if any, a page's controls take for the user's locale.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/language.h"

namespace upd::app {

// The face name of the locale font table's row for `userLocale` ("宋体" for 2052,
// "新細明體" for 1028, ...), when `isInstalled` says the face is there; nothing otherwise,
// and nothing for the table's last row (its face name is empty). The row's character set
// means nothing to Unicode fonts, and its size is not taken: every control keeps the size
// and weight of its design (the 12 pt bold page titles stay 12 pt bold).
std::optional<std::string> localeFaceFor(platform::LangId userLocale,
                                         const std::function<bool(std::string_view)>& isInstalled);

}  // namespace upd::app
