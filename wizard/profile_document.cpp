#include "wizard/profile_document.h"

#include <algorithm>
#include <utility>

#include "net/ascii_case.h"

namespace upd::wizard {
namespace {

using platform::CodePage;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// The name as callers give it: blanks around it dropped, ASCII case folded. Names are folded
// only as UTF-8 text: in a double-byte code page the second byte of a character may be an
// ASCII letter ("\x81\x41" and "\x81\x61" are two different characters).
std::string lookupKey(std::string_view utf8Name) {
    return net::asciiLower(trimBlanks(utf8Name));
}

bool isLeadByte(unsigned char byte, CodePage cp) {
    if (cp == 932) {
        // 0xA1-0xDF are the one-byte half-width katakana.
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }
    return platform::isDoubleByteCodePage(cp) && byte >= 0x81 && byte <= 0xFE;
}

// Every double-byte code page here takes its second bytes from 0x40 upwards, so the
// characters that give a line its structure (blanks, '=', ';', '"', '\'') never hide inside a
// character; '[' and ']' (0x5B, 0x5D) can, and are searched character by character.
bool isTrailByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

// Length in bytes of the ANSI character at text[pos]: 2 for a lead byte with a valid second
// byte, else 1 (a lone lead byte counts as a character of its own).
std::size_t ansiCharacterLength(std::string_view text, std::size_t pos, CodePage cp) {
    if (pos + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[pos]), cp) &&
        isTrailByte(static_cast<unsigned char>(text[pos + 1]))) {
        return 2;
    }
    return 1;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

IniWriteResult failure(IniWriteError error, std::string message) {
    return IniWriteResult{error, std::move(message)};
}

}  // namespace

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// ---- ProfileDocument ---------------------------------------------------------------------

ProfileDocument::ProfileDocument() = default;

ProfileDocument ProfileDocument::parse(std::string bytes, CodePage codePage) {
    ProfileDocument document;
    document.m_bytes = std::move(bytes);
    document.m_codePage = codePage;
    if (std::string_view(document.m_bytes).starts_with(kUtf8Bom)) {
        document.m_encoding = ProfileEncoding::Utf8;
        document.m_bodyBegin = kUtf8Bom.size();
    }
    // The first line break sets the style of lines that a write adds.
    const std::size_t firstBreak = document.m_bytes.find('\n', document.m_bodyBegin);
    if (firstBreak != std::string::npos &&
        (firstBreak == document.m_bodyBegin || document.m_bytes[firstBreak - 1] != '\r')) {
        document.m_lineEnding = "\n";
    }
    document.buildIndex();
    return document;
}

void ProfileDocument::buildIndex() {
    m_sections.clear();
    const bool doubleByte =
        m_encoding == ProfileEncoding::Ansi && platform::isDoubleByteCodePage(m_codePage);
    const std::string_view all(m_bytes);
    Section* current = nullptr;  // null above the first section and in repeated sections
    std::size_t lineBegin = m_bodyBegin;
    int lineNumber = 0;
    while (lineBegin < all.size()) {
        ++lineNumber;
        const std::size_t lineBreak = all.find('\n', lineBegin);
        const std::size_t next = lineBreak == std::string_view::npos ? all.size() : lineBreak + 1;
        std::size_t lineEnd = lineBreak == std::string_view::npos ? all.size() : lineBreak;
        if (lineEnd > lineBegin && all[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        const std::size_t thisLine = lineBegin;
        lineBegin = next;

        std::size_t pos = thisLine;
        while (pos < lineEnd && isBlank(all[pos])) {
            ++pos;
        }
        if (pos == lineEnd || all[pos] == ';') {
            continue;
        }
        const std::string_view line = all.substr(pos, lineEnd - pos);
        if (line.front() == '[') {
            std::size_t close = 1;
            while (close < line.size() && line[close] != ']') {
                close += doubleByte ? ansiCharacterLength(line, close, m_codePage) : 1;
            }
            // "[Section" without its bracket is no header, just a key line.
            if (close < line.size()) {
                auto [it, inserted] =
                    m_sections.try_emplace(foldedName(trimBlanks(line.substr(1, close - 1))));
                current = inserted ? &it->second : nullptr;
                if (current != nullptr) {
                    current->lastLineEnd = lineEnd;
                    current->lastLineNext = next;
                    current->line = lineNumber;
                }
                continue;
            }
        }
        if (current == nullptr) {
            continue;
        }
        KeyEntry entry;
        entry.lineEnd = lineEnd;
        entry.line = lineNumber;
        std::string_view name;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            // A bare "Key" line is a key with an empty value.
            name = trimBlanks(line);
            entry.editBegin = pos + name.size();
            entry.valueBegin = entry.valueEnd = lineEnd;
        } else {
            name = trimBlanks(line.substr(0, equals));
            entry.hasEquals = true;
            std::size_t valueBegin = pos + equals + 1;
            while (valueBegin < lineEnd && isBlank(all[valueBegin])) {
                ++valueBegin;
            }
            std::size_t valueEnd = lineEnd;
            while (valueEnd > valueBegin && isBlank(all[valueEnd - 1])) {
                --valueEnd;
            }
            entry.editBegin = valueBegin < lineEnd ? valueBegin : pos + equals + 1;
            // Password="secret" and Password='secret' both read as secret.
            if (valueEnd - valueBegin >= 2 && (all[valueBegin] == '"' || all[valueBegin] == '\'') &&
                all[valueEnd - 1] == all[valueBegin]) {
                ++valueBegin;
                --valueEnd;
            }
            entry.valueBegin = valueBegin;
            entry.valueEnd = valueEnd;
        }
        entry.nameBegin = static_cast<std::size_t>(name.data() - all.data());
        entry.nameEnd = entry.nameBegin + name.size();
        current->keys.try_emplace(foldedName(name), entry);
        current->lastLineEnd = lineEnd;
        current->lastLineNext = next;
    }
}

std::string ProfileDocument::decode(std::string_view raw) const {
    if (m_encoding == ProfileEncoding::Utf8 || isAscii(raw)) {
        return std::string(raw);
    }
    return platform::fromAnsi(raw, m_codePage);
}

std::string ProfileDocument::encode(std::string_view utf8) const {
    if (m_encoding == ProfileEncoding::Utf8 || isAscii(utf8)) {
        return std::string(utf8);
    }
    return platform::toAnsi(utf8, m_codePage);
}

std::string ProfileDocument::foldedName(std::string_view raw) const {
    return net::asciiLower(decode(raw));
}

std::size_t ProfileDocument::cutToLimit(std::string_view raw) const {
    // Every character takes at least as many bytes in UTF-8 as in an ANSI code page.
    if (raw.size() <= kMaxIniValueBytes) {
        return raw.size();
    }
    std::size_t pos = 0;
    std::size_t ansiBytes = 0;
    while (pos < raw.size()) {
        std::size_t length = 1;
        std::size_t ansiLength = 1;
        if (m_encoding == ProfileEncoding::Utf8) {
            ansiLength = static_cast<std::size_t>(
                platform::ansiLengthOfCharacter(raw, pos, m_codePage, length));
        } else {
            length = ansiLength = ansiCharacterLength(raw, pos, m_codePage);
        }
        // "\xD6\xD0" at bytes 253-254 would end half-way: the value ends before it.
        if (ansiBytes + ansiLength > kMaxIniValueBytes) {
            break;
        }
        ansiBytes += ansiLength;
        pos += length;
    }
    return pos;
}

std::optional<std::string> ProfileDocument::find(std::string_view section,
                                                 std::string_view key) const {
    const auto sectionIt = m_sections.find(lookupKey(section));
    if (sectionIt == m_sections.end()) {
        return std::nullopt;
    }
    const auto keyIt = sectionIt->second.keys.find(lookupKey(key));
    if (keyIt == sectionIt->second.keys.end()) {
        return std::nullopt;
    }
    std::string_view raw(m_bytes);
    raw = raw.substr(keyIt->second.valueBegin, keyIt->second.valueEnd - keyIt->second.valueBegin);
    // The value arrives in a C string buffer: a NUL byte ends it.
    raw = raw.substr(0, raw.find('\0'));
    return decode(raw.substr(0, cutToLimit(raw)));
}

std::string ProfileDocument::value(std::string_view section, std::string_view key) const {
    return find(section, key).value_or(std::string());
}

const ProfileDocument::KeyEntry* ProfileDocument::entryOf(std::string_view section,
                                                          std::string_view key) const {
    const auto sectionIt = m_sections.find(lookupKey(section));
    if (sectionIt == m_sections.end()) {
        return nullptr;
    }
    const auto keyIt = sectionIt->second.keys.find(lookupKey(key));
    return keyIt == sectionIt->second.keys.end() ? nullptr : &keyIt->second;
}

std::string_view ProfileDocument::rawValue(const KeyEntry& entry) const {
    const std::string_view raw =
        std::string_view(m_bytes).substr(entry.valueBegin, entry.valueEnd - entry.valueBegin);
    return raw.substr(0, raw.find('\0'));
}

std::optional<ProfileDocument::LocatedValue> ProfileDocument::findLocated(
    std::string_view section, std::string_view key) const {
    std::optional<std::string> found = find(section, key);
    const KeyEntry* entry = entryOf(section, key);
    if (!found || entry == nullptr) {
        return std::nullopt;
    }
    return LocatedValue{std::move(*found), entry->line};
}

std::optional<int> ProfileDocument::sectionLine(std::string_view section) const {
    const auto sectionIt = m_sections.find(lookupKey(section));
    if (sectionIt == m_sections.end()) {
        return std::nullopt;
    }
    return sectionIt->second.line;
}

std::vector<ProfileDocument::KeyLine> ProfileDocument::keyLines(std::string_view section) const {
    std::vector<KeyLine> lines;
    const auto sectionIt = m_sections.find(lookupKey(section));
    if (sectionIt == m_sections.end()) {
        return lines;
    }
    const std::string_view all(m_bytes);
    std::vector<const KeyEntry*> entries;
    entries.reserve(sectionIt->second.keys.size());
    for (const auto& [name, entry] : sectionIt->second.keys) {
        entries.push_back(&entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const KeyEntry* a, const KeyEntry* b) { return a->nameBegin < b->nameBegin; });
    lines.reserve(entries.size());
    for (const KeyEntry* entry : entries) {
        lines.push_back({all.substr(entry->nameBegin, entry->nameEnd - entry->nameBegin),
                         rawValue(*entry), entry->line});
    }
    return lines;
}

IniWriteResult ProfileDocument::setValue(std::string_view section, std::string_view key,
                                         std::string_view value) {
    const std::string_view sectionName = trimBlanks(section);
    const std::string_view keyName = trimBlanks(key);
    // Names that the file could not give back as written are refused rather than written
    // into a line that reads as something else.
    if (hasLineBreakOrNul(sectionName) || sectionName.find(']') != std::string_view::npos) {
        return failure(IniWriteError::InvalidName,
                       "section name holds a line break, NUL or ']': " + std::string(section));
    }
    if (keyName.empty() || hasLineBreakOrNul(keyName) ||
        keyName.find('=') != std::string_view::npos || keyName.front() == ';' ||
        keyName.front() == '[') {
        return failure(IniWriteError::InvalidName,
                       "key name is empty, holds a line break, NUL or '=', or starts with ';' or "
                       "'[': " +
                           std::string(key));
    }
    if (hasLineBreakOrNul(value)) {
        return failure(IniWriteError::InvalidValue, "value holds a line break or NUL");
    }

    const auto sectionIt = m_sections.find(lookupKey(sectionName));
    if (sectionIt == m_sections.end()) {
        std::string added;
        if (m_bytes.size() > m_bodyBegin && m_bytes.back() != '\n') {
            added += m_lineEnding;
        }
        added += '[' + encode(sectionName) + ']' + m_lineEnding;
        added += encode(keyName) + '=' + encode(value) + m_lineEnding;
        m_bytes += added;
    } else if (const auto keyIt = sectionIt->second.keys.find(lookupKey(keyName));
               keyIt != sectionIt->second.keys.end()) {
        // The key keeps its spelling and whatever stands before its value.
        const KeyEntry& entry = keyIt->second;
        const std::string replacement = (entry.hasEquals ? "" : "=") + encode(value);
        m_bytes.replace(entry.editBegin, entry.lineEnd - entry.editBegin, replacement);
    } else {
        const Section& found = sectionIt->second;
        const std::string line = encode(keyName) + '=' + encode(value);
        const bool lastHasBreak = m_bytes[found.lastLineNext - 1] == '\n';
        m_bytes.insert(found.lastLineNext,
                       lastHasBreak ? line + m_lineEnding : m_lineEnding + line);
    }
    buildIndex();
    return {};
}

}  // namespace upd::wizard
