#include "wizard/file_version.h"

#include <string>
#include <unordered_map>

#include "platform/version_resource.h"

namespace upd::wizard {
namespace {

const std::string kNoVersion = "0";

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the UTF-8 character at text[pos], never past the end of the text.
std::size_t characterLength(std::string_view text, std::size_t pos) {
    std::size_t length = 1;
    while (pos + length < text.size() && isContinuationByte(text[pos + length])) {
        ++length;
    }
    return length;
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        count += isContinuationByte(c) ? 0 : 1;
    }
    return count;
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Entry names are ASCII ("ProductVersion"); bytes of other characters compare as they are,
// which in UTF-8 can only match whole characters.
std::size_t findIgnoringCase(std::string_view text, std::string_view wanted) {
    if (wanted.size() > text.size()) {
        return std::string_view::npos;
    }
    for (std::size_t at = 0; at + wanted.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < wanted.size() && foldAscii(text[at + k]) == foldAscii(wanted[k])) {
            ++k;
        }
        if (k == wanted.size()) {
            return at;
        }
    }
    return std::string_view::npos;
}

// The block read as UTF-16 code units, each passed through the code page and back: keys
// and values become readable text, binary fields arbitrary characters, NULs stay NULs. A
// last odd byte is no code unit and is left out.
std::string blockText(std::span<const std::uint8_t> block, platform::CodePage cp) {
    std::string text;
    text.reserve(block.size());
    std::unordered_map<char16_t, std::string> converted;
    for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
        const auto unit = static_cast<char16_t>(block[i] | (block[i + 1] << 8));
        if (unit < 0x80) {
            text += static_cast<char>(unit);
            continue;
        }
        auto it = converted.find(unit);
        if (it == converted.end()) {
            it = converted.emplace(unit, platform::codeUnitThroughCodePage(unit, cp)).first;
        }
        text += it->second;
    }
    return text;
}

// UTF-16 code units of UTF-8 text, for comparing in the order Windows strings compare. A
// byte that starts no valid character becomes a lone low surrogate of its own value, so
// different texts never compare equal.
std::u16string toUtf16(std::string_view utf8) {
    std::u16string units;
    units.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                             : (lead & 0xF8) == 0xF0 ? 4
                                                     : 0;
        char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = isContinuationByte(utf8[i + k]);
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        }
        if (!valid) {
            units += static_cast<char16_t>(0xDC00 + lead);
            i += 1;
            continue;
        }
        if (c >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(c);
        }
        i += length;
    }
    return units;
}

}  // namespace

std::string GetFileVersionText(const std::string& path, std::string_view entry) {
    const auto block = platform::readVersionBlock(path);
    if (!block || block->size() <= 1) {
        return kNoVersion;
    }
    return versionKeyFromBlock(*block, entry, platform::systemCodePage());
}

std::string versionKeyFromBlock(std::span<const std::uint8_t> block, std::string_view entry,
                                platform::CodePage cp) {
    const std::string text = blockText(block, cp);
    const std::size_t found = findIgnoringCase(text, entry);
    if (found == std::string::npos) {
        return kNoVersion;
    }
    // The NUL that ends the entry name; the value runs from after it to the next NUL. Keys
    // of an odd length are followed by one padding NUL first ("FileVersion\0\0" "1.0\0"),
    // even ones are not ("ProductVersion\0" "1.0\0").
    const std::size_t nameEnd = text.find('\0', found);
    if (nameEnd == std::string::npos) {
        return kNoVersion;
    }
    std::size_t start = nameEnd + 1;
    std::size_t end = text.find('\0', start);
    if (end == start) {
        ++start;
        end = text.find('\0', start);
    }
    if (end == std::string::npos) {
        return kNoVersion;  // a cut-off block: the value has no end
    }
    return RemoveChar(std::string_view(text).substr(start, end - start), ".");
}

std::string RemoveChar(std::string_view text, std::string_view character) {
    std::string result(text);
    if (character.empty()) {
        return result;
    }
    // Removing one character can only create a new occurrence that overlaps the gap, so
    // the search resumes just before it rather than from the start.
    std::size_t from = 0;
    while (true) {
        const std::size_t at = result.find(character, from);
        if (at == std::string::npos) {
            return result;
        }
        result.erase(at, characterLength(result, at));
        from = at >= character.size() ? at - character.size() + 1 : 0;
    }
}

std::string GetExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(name);
    }
    return std::string(name.substr(dot + 1));
}

std::string ParentUrl(std::string_view url) {
    if (url.empty()) {
        return {};
    }
    std::size_t lastCharacter = url.size() - 1;
    while (lastCharacter > 0 && isContinuationByte(url[lastCharacter])) {
        --lastCharacter;
    }
    const std::size_t slash = url.substr(0, lastCharacter).rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    // 1-based character position of the "/". The two after the scheme stand at 6 and 7
    // ("http://") or 7 and 8 ("https://"), so they never count.
    const std::size_t position = characterCount(url.substr(0, slash)) + 1;
    if (position <= 8) {
        return {};
    }
    return std::string(url.substr(0, slash));
}

// Keys compare as text, character by character, a prefix before the longer key:
//   local "1003" (1.0.0.3)    vs announced "1004" (1.0.0.4)  -> older
//   local "1004" (1.0.0.4)    vs announced "1004" (1.0.0.4)  -> not older
//   local "0" (no version)    vs announced "1001" (1.0.0.1)  -> older
//   local "0" (no version)    vs announced "09" (0.9)        -> older ("0" is a prefix)
//   local "1003" (1.0.0.3)    vs announced "" (empty)        -> not older
//   local "19" (1.9)          vs announced "110" (1.10)      -> not older ("9" > "1")
//   local "110" (1.10)        vs announced "19" (1.9)        -> older
//   local "1, 0, 0, 3"        vs announced "1003" (1.0.0.3)  -> older ("," sorts before digits)
// So versions need parts of equal width for this to follow their numeric order.
bool isOlderVersion(std::string_view localKey, std::string_view announcedKey) {
    return toUtf16(localKey) < toUtf16(announcedKey);
}

}  // namespace upd::wizard
