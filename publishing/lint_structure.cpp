#include "publishing/lint_checks.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "net/ascii_case.h"
#include "platform/code_page.h"
#include "platform/language.h"
#include "wizard/profile_document.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard::lint {
namespace {

// The lines that the reader (wizard/profile_document.cpp) reads past in silence: a section whose
// name came before, a key whose name came before in its section, and lines above the first
// section. Every value, key line and section line the checks judge comes from the reader
// itself (ProfileDocument, readUpdateIni); this scan only names the lines it never reads, with
// the reader's blank rule and its "first one wins".
class PassedOver {
  public:
    struct RepeatedSection {
        int line;
        std::string header;
        int firstLine;
        int ignoredKeys;  // key lines the reader passes over
    };
    struct RepeatedKey {
        int line;
        std::string name;
        int firstLine;
    };

    explicit PassedOver(std::string_view bytes) {
        std::size_t pos = 0;
        if (bytes.starts_with("\xEF\xBB\xBF")) {
            pos = 3;
        }
        for (int line = 1; pos < bytes.size(); ++line) {
            const std::size_t lineBreak = bytes.find('\n', pos);
            const std::size_t next =
                lineBreak == std::string_view::npos ? bytes.size() : lineBreak + 1;
            std::string_view text = bytes.substr(pos, next - pos);
            pos = next;
            if (text.ends_with('\n')) {
                text.remove_suffix(1);
            }
            if (text.ends_with('\r')) {
                text.remove_suffix(1);
            }
            scanLine(line, trimBlanks(text));
        }
    }
    // m_current points into m_sections.
    PassedOver(const PassedOver&) = delete;
    PassedOver& operator=(const PassedOver&) = delete;

    const std::vector<RepeatedSection>& repeatedSections() const { return m_repeatedSections; }
    const std::vector<RepeatedKey>& repeatedKeys() const { return m_repeatedKeys; }
    // Lines above the first section that are neither blank nor comments.
    const std::vector<int>& strayLines() const { return m_strayLines; }

  private:
    struct Section {
        int line = 0;
        std::map<std::string, int> keys;  // folded name -> line of its first occurrence
    };

    // `text` is the line with the blanks around it dropped.
    void scanLine(int line, std::string_view text) {
        if (text.empty() || text.front() == ';') {
            return;
        }
        if (text.front() == '[') {
            const std::size_t close = text.find(']');
            if (close != std::string_view::npos) {
                enterSection(line, text, close);
                return;
            }
        }
        if (m_current == nullptr) {
            if (m_inRepeated) {
                ++m_repeatedSections.back().ignoredKeys;
            } else {
                m_strayLines.push_back(line);
            }
            return;
        }
        // Only the name: what stands after '=' is the reader's to read.
        const std::string_view name = trimBlanks(text.substr(0, text.find('=')));
        const auto [it, inserted] = m_current->keys.try_emplace(net::asciiLower(name), line);
        if (!inserted) {
            m_repeatedKeys.push_back({line, std::string(name), it->second});
        }
    }

    // A header line, `close` the position of its ']'.
    void enterSection(int line, std::string_view text, std::size_t close) {
        const auto [it, inserted] =
            m_sections.try_emplace(net::asciiLower(trimBlanks(text.substr(1, close - 1))));
        m_inRepeated = !inserted;
        if (inserted) {
            it->second.line = line;
            m_current = &it->second;
        } else {
            m_current = nullptr;
            m_repeatedSections.push_back(
                {line, std::string(text.substr(0, close + 1)), it->second.line, 0});
        }
    }

    std::map<std::string, Section> m_sections;  // folded name -> the first section
    Section* m_current = nullptr;               // null above the first and in a repeated one
    bool m_inRepeated = false;
    std::vector<RepeatedSection> m_repeatedSections;
    std::vector<RepeatedKey> m_repeatedKeys;
    std::vector<int> m_strayLines;
};

std::size_t ansiLength(const ProfileDocument& document, std::string_view raw) {
    if (document.encoding() != ProfileEncoding::Utf8) {
        return raw.size();
    }
    // A UTF-8 file is counted in the system code page: the longer of English and Chinese.
    std::size_t longest = 0;
    for (const platform::CodePage cp : {1252, 936}) {
        std::size_t length = 0;
        for (std::size_t pos = 0; pos < raw.size();) {
            std::size_t utf8Length = 1;
            length +=
                static_cast<std::size_t>(platform::ansiLengthOfCharacter(raw, pos, cp, utf8Length));
            pos += std::max<std::size_t>(utf8Length, 1);
        }
        longest = std::max(longest, length);
    }
    return longest;
}

}  // namespace

void checkStructure(LintContext& ctx) {
    // The document holds the very bytes it was read from, byte-order mark included.
    const PassedOver passedOver(ctx.document().bytes());
    for (const auto& s : passedOver.repeatedSections()) {
        ctx.add(s.ignoredKeys > 0 ? LintSeverity::Error : LintSeverity::Warning, s.line,
                s.header + " repeats the section of line " + std::to_string(s.firstLine) +
                    ": the wizard reads only the first, and passes over every key of this one",
                "move these keys into the first " + s.header + " section");
    }
    for (const auto& k : passedOver.repeatedKeys()) {
        ctx.warning(k.line,
                    k.name + " is repeated: the wizard reads only the one on line " +
                        std::to_string(k.firstLine),
                    "keep one " + k.name + " in the section");
    }
    for (const int line : passedOver.strayLines()) {
        ctx.warning(line, "this line is above the first section: the wizard ignores it",
                    "move it into a section, or start it with ';' to make it a comment");
    }
}

// A value longer than the reader's buffer arrives cut.
void checkLengths(LintContext& ctx) {
    // Texts only shown are cut harmlessly; names, numbers and digests are not.
    const std::set<std::string> shownKeys = {
        net::asciiLower(contentsKey(platform::languageProfile(platform::kLangEnglishUS).tag)),
        net::asciiLower(
            contentsKey(platform::languageProfile(platform::kLangChineseSimplified).tag)),
        net::asciiLower(kReleaseVersionKey), net::asciiLower(kReleaseTimeKey)};
    for (const std::string_view sectionName :
         {kUpdateSection, kVerSection, kTimeSection, kDescriptSection}) {
        for (const ProfileDocument::KeyLine& k : ctx.document().keyLines(sectionName)) {
            const std::size_t length = ansiLength(ctx.document(), k.raw);
            if (length <= kMaxIniValueBytes) {
                continue;
            }
            const bool shown =
                sectionName == kDescriptSection ||
                (sectionName == kUpdateSection && shownKeys.contains(net::asciiLower(k.name)));
            ctx.add(shown ? LintSeverity::Warning : LintSeverity::Error, k.line,
                    std::string(k.name) + " is " + std::to_string(length) +
                        " bytes long: the wizard reads only its first 254",
                    "shorten it to 254 bytes");
        }
    }
}

}  // namespace upd::wizard::lint
