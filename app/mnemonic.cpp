#include "app/mnemonic.h"

#include <array>

namespace upd::app {
namespace {

// UTF-8 bytes of a multi-byte character are all 0x80 or above, so comparing single bytes
// against an ASCII key never matches part of one.
char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isAsciiAlnum(char c) {
    const char lower = asciiLower(c);
    return (lower >= 'a' && lower <= 'z') || (c >= '0' && c <= '9');
}

constexpr std::string_view kFullWidthColon = "\xEF\xBC\x9A";  // ：

// The bracketed key goes before these: "地址(&D)：", "Open(&O)...".
constexpr std::array<std::string_view, 4> kClosings = {kFullWidthColon, ":", "\xE2\x80\xA6" /* … */,
                                                       "..."};

std::size_t closingLength(std::string_view text) {
    for (const std::string_view closing : kClosings) {
        if (text.ends_with(closing)) {
            return closing.size();
        }
    }
    return 0;
}

std::size_t colonLength(std::string_view text) {
    if (text.ends_with(kFullWidthColon)) {
        return kFullWidthColon.size();
    }
    return text.ends_with(':') ? 1 : 0;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool hasMnemonic(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') {
            continue;
        }
        if (text[i + 1] != '&') {
            return true;
        }
        ++i;  // "&&": a literal ampersand
    }
    return false;
}

char mnemonicKey(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') {
            continue;
        }
        if (text[i + 1] != '&') {
            return isAsciiAlnum(text[i + 1]) ? asciiUpper(text[i + 1]) : '\0';
        }
        ++i;
    }
    return '\0';
}

char chooseMnemonicKey(std::string_view text, std::string_view used) {
    const auto free = [used](char c) {
        return isAsciiAlnum(c) && used.find(asciiUpper(c)) == std::string_view::npos;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((i == 0 || !isAsciiAlnum(text[i - 1])) && free(text[i])) {
            return asciiUpper(text[i]);
        }
    }
    for (const char c : text) {
        if (free(c)) {
            return asciiUpper(c);
        }
    }
    for (char c = 'A'; c <= 'Z'; ++c) {
        if (free(c)) {
            return c;
        }
    }
    return '\0';
}

std::string withMnemonic(std::string_view text, char key, platform::LangId language) {
    if (hasMnemonic(text)) {
        return std::string(text);
    }
    if (!platform::languageProfile(language).chinese) {
        // The first letter that starts a word, else the first one anywhere.
        std::size_t found = std::string_view::npos;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (asciiLower(text[i]) != asciiLower(key)) {
                continue;
            }
            if (i == 0 || !isAsciiAlnum(text[i - 1])) {
                found = i;
                break;
            }
            if (found == std::string_view::npos) {
                found = i;
            }
        }
        if (found != std::string_view::npos) {
            return std::string(text.substr(0, found)) + '&' + std::string(text.substr(found));
        }
    }
    const std::size_t end = text.size() - closingLength(text);
    return std::string(text.substr(0, end)) + "(&" + asciiUpper(key) + ')' +
           std::string(text.substr(end));
}

std::string spokenText(std::string_view text) {
    std::string spoken;
    spoken.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == "(&" && i + 3 < text.size() && text[i + 2] != '&' &&
            text[i + 3] == ')') {
            i += 3;  // "(&P)"
            continue;
        }
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                spoken += '&';
                ++i;
            }
            continue;
        }
        spoken += text[i];
    }
    const auto dropTrailingSpaces = [&spoken] {
        while (!spoken.empty() && isSpace(spoken.back())) {
            spoken.pop_back();
        }
    };
    dropTrailingSpaces();
    spoken.resize(spoken.size() - colonLength(spoken));
    dropTrailingSpaces();
    std::size_t start = 0;
    while (start < spoken.size() && isSpace(spoken[start])) {
        ++start;
    }
    return spoken.substr(start);
}

}  // namespace upd::app
