// A Windows profile file (`update.ini`, `proxy.ini`) held in memory and read the way the
// Windows profile functions read it. The file functions of wizard/profile_file.h stand on it.
//
// File format, as Windows reads it:
//   [Section]          section and key names match without regard to ASCII case
//   Key = Value        blanks around names and values are dropped
//   Key="  Value "     one pair of matching quotes (" or ') around the whole value is removed
//   ; comment          lines whose first non-blank character is ';'
// The first matching section and the first matching key in it win; keys above the first
// section belong to no section. A value comes back cut to 254 bytes of ANSI text, never in
// the middle of a two-byte character. Lines end in CR LF or LF. Files hold bytes of an ANSI
// code page (the system's, when read through profile_file.h), unless they start with a UTF-8
// byte-order mark; text in the program is UTF-8. A value from a UTF-8 file keeps every character
// (none becomes '?'), and its length is still counted in bytes of the ANSI code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"

namespace upd::wizard {

// The blanks that the reader drops around section names, keys and values: space, tab, CR,
// VT and FF. The lint and the reader share them so that both see the same names.
bool isBlank(char c);
std::string_view trimBlanks(std::string_view text);

// The most a read returns, in bytes of the ANSI code page (a 255-byte buffer with its NUL).
inline constexpr std::size_t kMaxIniValueBytes = 254;

enum class ProfileEncoding {
    Ansi,  // bytes of the code page given to ProfileDocument::parse
    Utf8,  // the file starts with EF BB BF; the mark is kept when written
};

enum class IniWriteError {
    None,
    InvalidName,   // a line break or NUL in a name, ']' in the section, '=' in the key, a key
                   // that is empty or starts with ';' or '['; the file could not give it back
    InvalidValue,  // the value holds a line break or NUL
    ReadFailed,    // the existing file could not be read; it was left alone
    TooLarge,      // the existing file is larger than kMaxProfileFileBytes (profile_file.h)
    WriteFailed,   // the new content could not be written beside and renamed over
};

// Outcome of a write; converts to true on success. `message` is English, for diagnostics.
struct IniWriteResult {
    IniWriteError error = IniWriteError::None;
    std::string message;

    explicit operator bool() const { return error == IniWriteError::None; }
};

// A profile file held in memory: its bytes plus an index of the first occurrence of every
// section and of every key in it. Pure: no file system access, so it can be fed any bytes.
class ProfileDocument {
  public:
    // An empty document (a file that does not exist yet) in code page 1252.
    ProfileDocument();

    // Takes the whole file. Never fails: lines that are neither a section, a key nor a
    // comment are kept and ignored.
    static ProfileDocument parse(std::string bytes, platform::CodePage codePage);

    // The value as UTF-8, cut to kMaxIniValueBytes of ANSI text; nullopt when the section
    // or the key is absent. Names are compared after dropping blanks around them.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;

    // find(), with "" for an absent value.
    std::string value(std::string_view section, std::string_view key) const;

    // What find() gives, with the 1-based line of the key that gave it (a byte-order mark
    // starts line 1), for messages that point into the file.
    struct LocatedValue {
        std::string value;
        int line = 0;
    };
    std::optional<LocatedValue> findLocated(std::string_view section, std::string_view key) const;

    // The 1-based line of the header of the section that find() reads; nullopt when absent.
    std::optional<int> sectionLine(std::string_view section) const;

    // A key of a section as the reader holds it: the first line of each name.
    struct KeyLine {
        std::string_view name;  // as written, blanks around it dropped
        std::string_view raw;   // the value's bytes, blanks and quotes dropped, up to a NUL:
                                // before the cut to kMaxIniValueBytes and any conversion
        int line = 0;
    };
    // The keys that find() reads in `section`, in file order; empty when it is absent. The
    // views point into bytes(): valid until the next setValue.
    std::vector<KeyLine> keyLines(std::string_view section) const;

    // Changes the one key in place, or adds it after the last key line of the first
    // matching section, or adds the section at the end. Every other byte stays as it was;
    // new lines take the file's line-ending style (CR LF when it has none). On failure the
    // document is unchanged.
    IniWriteResult setValue(std::string_view section, std::string_view key, std::string_view value);

    // The whole file, byte-order mark included.
    const std::string& bytes() const { return m_bytes; }
    ProfileEncoding encoding() const { return m_encoding; }
    platform::CodePage codePage() const { return m_codePage; }

  private:
    // Offsets into m_bytes.
    struct KeyEntry {
        std::size_t valueBegin = 0;  // value after dropping blanks and quotes
        std::size_t valueEnd = 0;
        std::size_t editBegin = 0;  // where a new value goes: after "=" and its blanks
        std::size_t lineEnd = 0;    // end of the line's text, before CR LF or LF
        bool hasEquals = false;     // false for a bare "Key" line
        std::size_t nameBegin = 0;  // the name, blanks around it dropped
        std::size_t nameEnd = 0;
        int line = 0;  // 1-based
    };
    struct Section {
        std::size_t lastLineEnd = 0;                     // header or last key line: end of its text
        std::size_t lastLineNext = 0;                    // start of the line after it
        int line = 0;                                    // 1-based line of the header
        std::unordered_map<std::string, KeyEntry> keys;  // folded name -> first entry
    };

    void buildIndex();
    const KeyEntry* entryOf(std::string_view section, std::string_view key) const;
    std::string_view rawValue(const KeyEntry& entry) const;
    std::string encode(std::string_view utf8) const;
    std::string decode(std::string_view raw) const;
    std::string foldedName(std::string_view raw) const;
    std::size_t cutToLimit(std::string_view raw) const;

    std::string m_bytes;
    platform::CodePage m_codePage = 1252;
    ProfileEncoding m_encoding = ProfileEncoding::Ansi;
    std::size_t m_bodyBegin = 0;  // 3 after a byte-order mark
    std::string m_lineEnding = "\r\n";
    std::unordered_map<std::string, Section> m_sections;  // folded name -> first section
};

}  // namespace upd::wizard
