// Case folding for protocol text (header names, schemes) and for the names update.ini
// compares without case (sections, keys, extensions): ASCII letters only, so bytes of the
// code page's own characters are never changed.
#pragma once

#include <string>
#include <string_view>

namespace upd::net {

inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

inline std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// The value of a hexadecimal digit of either case; -1 for any other byte.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// `prefix` must be lower case: "HTTP://host" starts with "http://".
inline bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && asciiLower(text.substr(0, prefix.size())) == prefix;
}

}  // namespace upd::net
