#include "app/number_text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace upd::app {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number found in a text: where it ends, and the text std::from_chars can read
// ("d" exponents as "e", no "+" sign).
struct ScannedNumber {
    std::size_t end = 0;
    std::string normalized;
};

// Reads [sign] digits [. digits] [exponent] from `pos`. An exponent letter that no digit
// follows is not part of the number ("80e" reads as 80). Nothing when no mantissa digit
// is there: "." and "-" alone are not numbers.
std::optional<ScannedNumber> scanNumber(std::string_view text, std::size_t pos) {
    ScannedNumber number;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        if (text[pos] == '-') {
            number.normalized += '-';
        }
        ++pos;
    }
    bool mantissaDigits = false;
    while (pos < text.size() && isDigit(text[pos])) {
        number.normalized += text[pos++];
        mantissaDigits = true;
    }
    if (pos < text.size() && text[pos] == '.') {
        number.normalized += text[pos++];
        while (pos < text.size() && isDigit(text[pos])) {
            number.normalized += text[pos++];
            mantissaDigits = true;
        }
    }
    if (!mantissaDigits) {
        return std::nullopt;
    }
    if (pos < text.size() &&
        (text[pos] == 'e' || text[pos] == 'E' || text[pos] == 'd' || text[pos] == 'D')) {
        std::size_t exponent = pos + 1;
        std::string digits = "e";
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
            digits += text[exponent++];
        }
        if (exponent < text.size() && isDigit(text[exponent])) {
            while (exponent < text.size() && isDigit(text[exponent])) {
                digits += text[exponent++];
            }
            number.normalized += digits;
            pos = exponent;
        }
    }
    number.end = pos;
    return number;
}

// Rounds half to even, as the conversions to whole numbers do ("2.5" -> 2, "3.5" -> 4);
// nothing beyond the 64-bit range.
std::optional<std::int64_t> roundToWhole(const std::string& normalized) {
    double value = 0.0;
    const char* first = normalized.data();
    const char* last = first + normalized.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || ptr != last) {
        return std::nullopt;
    }
    // nearbyint honours the default rounding mode, which rounds ties to even.
    const double rounded = std::nearbyint(value);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(rounded > -kLimit && rounded < kLimit)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(rounded);
}

}  // namespace

std::optional<std::int64_t> wholeNumberFromText(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    const auto number = scanNumber(text, pos);
    if (!number) {
        return std::nullopt;
    }
    pos = number->end;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return roundToWhole(number->normalized);
}

std::int64_t leadingWholeNumber(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (isBlank(text[pos]) || text[pos] == '\r' || text[pos] == '\n')) {
        ++pos;
    }
    const auto number = scanNumber(text, pos);
    if (!number) {
        return 0;
    }
    return roundToWhole(number->normalized).value_or(0);
}

}  // namespace upd::app
