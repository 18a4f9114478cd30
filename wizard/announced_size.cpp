#include "wizard/announced_size.h"

#include <algorithm>
#include <limits>

#include "platform/printable_text.h"

namespace upd::wizard {
namespace {

// A size has at most 19 digits: more of a hostile value would only fill the message.
constexpr std::size_t kMaxQuotedBytes = 24;

}  // namespace

std::optional<std::int64_t> parseAnnouncedSize(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        // "9223372036854775808" is one past the largest: refused, never wrapped.
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, c - '0', &value)) {
            return std::nullopt;
        }
    }
    return value;
}

SizeReading readAnnouncedSize(const IniValue& value) {
    if (!value.present) {
        return {};
    }
    const auto size = parseAnnouncedSize(value.text);
    return {size, !size};
}

std::string malformedSizeText(std::string_view text) {
    std::size_t cut = std::min(text.size(), kMaxQuotedBytes);
    while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;  // not inside a UTF-8 sequence
    }
    const std::string quoted =
        platform::printableText(text.substr(0, cut)) + (cut < text.size() ? "..." : "");
    return "is not a size in bytes (ASCII digits, at most " +
           std::to_string(std::numeric_limits<std::int64_t>::max()) + "): \"" + quoted + "\"";
}

}  // namespace upd::wizard
