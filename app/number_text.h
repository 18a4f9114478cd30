// Numbers typed by users or stored in settings files, read the way the dialog reads them:
// a whole field that must be a number (the proxy type, the remote-DNS box) and the leading
// number of a field (the proxy port). Independent of the C locale, so a decimal comma in
// the user's regional settings never changes what "1.5" means.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace upd::app {

// The whole text as a number rounded to a whole number, halves to the even neighbour:
// " 3 " gives 3, "2.5" gives 2, "3.5" gives 4, "1e1" gives 10, "-0.4" gives 0. Blanks
// (space, tab) around the number are allowed; a sign, digits with an optional fraction
// and an optional exponent (e or d) make the number. Nothing when the text is not a number
// ("", "3a", "+", "1,5") or its value lies beyond the 64-bit range.
std::optional<std::int64_t> wholeNumberFromText(std::string_view text);

// The number at the start of the text, rounded as above; 0 when the text does not start
// with one. Blanks before the number are skipped and whatever follows it is ignored:
// "8080" gives 8080, " 1080" gives 1080, "80abc" gives 80, "" and "x80" give 0. A value
// beyond the 64-bit range gives 0.
std::int64_t leadingWholeNumber(std::string_view text);

}  // namespace upd::app
