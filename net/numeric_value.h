// The numeric value at the start of a text, read the way the engine reads ports, status
// codes and "content-length" values: leading blanks skipped, an optional sign, digits, an
// optional fraction and exponent; reading stops at the first character that cannot be
// part of the number, and the result is rounded to a whole number (halves to even).
//   "  1234xyz" -> 1234     "12.5" -> 12     "13.5" -> 14     "1e3" -> 1000
//   "x12" -> 0              "" -> 0           "-7" -> -7
// Values beyond the 64-bit range are clamped to it; nothing here fails.
#pragma once

#include <cstdint>
#include <string_view>

namespace upd::net {

std::int64_t leadingNumericValue(std::string_view text);

// The same, clamped to the signed 32-bit range (ports, status codes).
std::int32_t leadingNumericValue32(std::string_view text);

}  // namespace upd::net
