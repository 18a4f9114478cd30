#include "net/numeric_value.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace upd::net {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

std::int64_t clampToInt64(long double v) {
    // "0e5000" is 0 times infinity: not a number, and converting it is undefined.
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= static_cast<long double>(kMax)) {
        return kMax;
    }
    if (v <= static_cast<long double>(kMin)) {
        return kMin;
    }
    return static_cast<std::int64_t>(v);
}

}  // namespace

std::int64_t leadingNumericValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The whole part exactly (saturating), the fraction only as far as rounding needs it.
    std::uint64_t whole = 0;
    bool saturated = false;
    bool anyDigit = false;
    while (i < text.size() && isDigit(text[i])) {
        anyDigit = true;
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (whole > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            saturated = true;
        } else {
            whole = whole * 10 + digit;
        }
        ++i;
    }
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t start = ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
        }
        fraction = text.substr(start, i - start);
        anyDigit = anyDigit || !fraction.empty();
    }
    if (!anyDigit) {
        return 0;
    }
    // An exponent ("1e3", "2.5D2") is rare enough to be computed in floating point.
    if (i + 1 < text.size() &&
        (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && isDigit(text[j])) {
            int exponent = 0;
            while (j < text.size() && isDigit(text[j])) {
                exponent = std::min(exponent * 10 + (text[j] - '0'), 10000);
                ++j;
            }
            long double mantissa = saturated ? static_cast<long double>(kMax) : whole;
            long double scale = 1;
            for (char c : fraction) {
                scale /= 10;
                mantissa += (c - '0') * scale;
            }
            long double value = mantissa * std::pow(10.0L, negativeExponent ? -exponent : exponent);
            value = std::nearbyint(value);
            return clampToInt64(negative ? -value : value);
        }
    }
    if (saturated || whole > static_cast<std::uint64_t>(kMax)) {
        return negative ? kMin : kMax;
    }
    auto result = static_cast<std::int64_t>(whole);
    // Round half to even: ".5" exactly goes to the even neighbour, more than a half goes up.
    if (!fraction.empty()) {
        const int first = fraction[0] - '0';
        const bool restNonZero =
            fraction.substr(1).find_first_not_of('0') != std::string_view::npos;
        const bool up = first > 5 || (first == 5 && (restNonZero || (result % 2) == 1));
        if (up && result < kMax) {
            ++result;
        }
    }
    return negative ? -result : result;
}

std::int32_t leadingNumericValue32(std::string_view text) {
    const std::int64_t v = leadingNumericValue(text);
    if (v > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (v < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(v);
}

}  // namespace upd::net
