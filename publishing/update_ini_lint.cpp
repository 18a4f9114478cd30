#include "publishing/update_ini_lint.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "app/number_text.h"
#include "controls/list_model.h"
#include "net/ascii_case.h"
#include "platform/code_page.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "wizard/announced_date.h"
#include "publishing/file_digest.h"
#include "wizard/file_version.h"
#include "wizard/profile_file.h"
#include "publishing/update_ini_writer.h"

namespace upd::wizard {
namespace {

// Values are judged as an English system reads them; the names and numbers the wizard acts
// on are ASCII, and a name that is not gets a warning of its own.
constexpr platform::CodePage kLintCodePage = 1252;
constexpr std::int64_t kMaxEntries = 32767;

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// ---- Where things are -------------------------------------------------------------------

// The lines of the file as the reader sees them (wizard/profile_document.cpp): the first section
// of a name and the first key of a name in it win. ProfileDocument gives the values; this
// gives their line numbers, the keys present, and what the reader passes over.
class Layout {
  public:
    struct Key {
        int line = 0;
        std::string name;  // as written
        std::string raw;   // the value's bytes before any cut, up to a NUL
    };
    struct Section {
        int line = 0;
        std::vector<Key> keys;                     // first occurrences, in file order
        std::map<std::string, std::size_t> index;  // folded name -> keys[i]
    };

    explicit Layout(std::string_view bytes) {
        std::size_t pos = 0;
        if (bytes.starts_with("\xEF\xBB\xBF")) {
            m_utf8 = true;
            pos = 3;
        }
        Section* current = nullptr;
        bool inRepeated = false;
        int repeatedFirstLine = 0;
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
            text = trimBlanks(text);
            if (text.empty() || text.front() == ';') {
                continue;
            }
            if (text.front() == '[') {
                const std::size_t close = text.find(']');
                if (close != std::string_view::npos) {
                    const auto [it, inserted] = m_sections.try_emplace(
                        net::asciiLower(trimBlanks(text.substr(1, close - 1))));
                    inRepeated = !inserted;
                    repeatedFirstLine = it->second.line;
                    if (inserted) {
                        it->second.line = line;
                        current = &it->second;
                    } else {
                        current = nullptr;
                        m_repeatedSections.push_back(
                            {line, std::string(text.substr(0, close + 1)), repeatedFirstLine, 0});
                    }
                    continue;
                }
            }
            if (current == nullptr) {
                if (inRepeated) {
                    ++m_repeatedSections.back().ignoredKeys;
                } else {
                    m_strayLines.push_back(line);
                }
                continue;
            }
            Key key;
            key.line = line;
            const std::size_t equals = text.find('=');
            key.name = std::string(trimBlanks(text.substr(0, equals)));
            if (equals != std::string_view::npos) {
                std::string_view value = trimBlanks(text.substr(equals + 1));
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                    value.back() == value.front()) {
                    value = value.substr(1, value.size() - 2);
                }
                key.raw = std::string(value.substr(0, value.find('\0')));
            }
            const std::string name = net::asciiLower(key.name);
            if (const auto it = current->index.find(name); it != current->index.end()) {
                m_repeatedKeys.push_back({line, key.name, current->keys[it->second].line});
                continue;
            }
            current->index.emplace(name, current->keys.size());
            current->keys.push_back(std::move(key));
        }
    }

    const Section* section(std::string_view name) const {
        const auto it = m_sections.find(net::asciiLower(name));
        return it == m_sections.end() ? nullptr : &it->second;
    }
    const Key* key(std::string_view sectionName, std::string_view keyName) const {
        const Section* s = section(sectionName);
        if (s == nullptr) {
            return nullptr;
        }
        const auto it = s->index.find(net::asciiLower(keyName));
        return it == s->index.end() ? nullptr : &s->keys[it->second];
    }
    // The key's line, else its section's, else 0.
    int lineOf(std::string_view sectionName, std::string_view keyName) const {
        if (const Key* k = key(sectionName, keyName)) {
            return k->line;
        }
        const Section* s = section(sectionName);
        return s == nullptr ? 0 : s->line;
    }
    bool utf8() const { return m_utf8; }

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
    const std::vector<RepeatedSection>& repeatedSections() const { return m_repeatedSections; }
    const std::vector<RepeatedKey>& repeatedKeys() const { return m_repeatedKeys; }
    // Lines above the first section that are neither blank nor comments.
    const std::vector<int>& strayLines() const { return m_strayLines; }

  private:
    bool m_utf8 = false;
    std::map<std::string, Section> m_sections;
    std::vector<RepeatedSection> m_repeatedSections;
    std::vector<RepeatedKey> m_repeatedKeys;
    std::vector<int> m_strayLines;
};

// ---- The checks -------------------------------------------------------------------------

struct Entry {
    std::string name;
    int line = 0;
    bool hasDigest = false;
};

struct VersionText {
    int line = 0;
    std::string label;  // "Ver2", "UpdateVer"
    std::string text;
};

class Lint {
  public:
    Lint(std::string_view bytes, const LintOptions& options)
        : m_layout(bytes),
          m_document(ProfileDocument::parse(std::string(bytes), kLintCodePage)),
          m_options(options) {}

    std::vector<LintFinding> run() {
        checkStructure();
        checkLengths();
        checkEntries("Ver", "Ver");
        checkEntries("Time", "Date");
        checkUpdate();
        checkDigestCoverage();
        checkVersionWidths();
        checkUnannounced();
        std::stable_sort(
            m_findings.begin(), m_findings.end(),
            [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
        return std::move(m_findings);
    }

  private:
    // Every finding quotes names and values of a file from a server: an ESC in a name would
    // reach the terminal of whoever reads the findings, so control bytes go out as \xNN.
    void add(LintSeverity severity, int line, const std::string& problem, const std::string& fix) {
        m_findings.push_back(
            {line, severity, platform::printableText(problem), platform::printableText(fix)});
    }
    void error(int line, const std::string& problem, const std::string& fix) {
        add(LintSeverity::Error, line, problem, fix);
    }
    void warning(int line, const std::string& problem, const std::string& fix) {
        add(LintSeverity::Warning, line, problem, fix);
    }
    // A download without its digest: unchecked in an unsigned set; in a signed one the reason
    // a wizard with update.pub refuses the whole set.
    void missingDigest(int line, const std::string& what, const std::string& unchecked,
                       const std::string& fix) {
        if (m_options.signedSet) {
            error(line,
                  what +
                      ": a wizard with update.pub refuses the whole signed set, which must "
                      "digest every file it may download",
                  fix);
        } else {
            warning(line, what + ": " + unchecked, fix);
        }
    }
    std::string value(std::string_view section, std::string_view key) const {
        return m_document.value(section, key);
    }

    void checkStructure() {
        for (const auto& s : m_layout.repeatedSections()) {
            add(s.ignoredKeys > 0 ? LintSeverity::Error : LintSeverity::Warning, s.line,
                s.header + " repeats the section of line " + std::to_string(s.firstLine) +
                    ": the wizard reads only the first, and passes over every key of this one",
                "move these keys into the first " + s.header + " section");
        }
        for (const auto& k : m_layout.repeatedKeys()) {
            warning(k.line,
                    k.name + " is repeated: the wizard reads only the one on line " +
                        std::to_string(k.firstLine),
                    "keep one " + k.name + " in the section");
        }
        for (const int line : m_layout.strayLines()) {
            warning(line, "this line is above the first section: the wizard ignores it",
                    "move it into a section, or start it with ';' to make it a comment");
        }
    }

    // A value longer than the reader's buffer arrives cut.
    void checkLengths() {
        for (const char* sectionName : {"Update", "Ver", "Time", "Descript"}) {
            const Layout::Section* s = m_layout.section(sectionName);
            if (s == nullptr) {
                continue;
            }
            for (const Layout::Key& k : s->keys) {
                const std::size_t length = ansiLength(k.raw);
                if (length <= kMaxIniValueBytes) {
                    continue;
                }
                const std::string name = net::asciiLower(k.name);
                // Texts only shown are cut harmlessly; names, numbers and digests are not.
                const bool shown = std::string_view(sectionName) == "Descript" ||
                                   (std::string_view(sectionName) == "Update" &&
                                    (name == "contentsen" || name == "contentschs" ||
                                     name == "ver" || name == "time"));
                add(shown ? LintSeverity::Warning : LintSeverity::Error, k.line,
                    k.name + " is " + std::to_string(length) +
                        " bytes long: the wizard reads only its first 254",
                    "shorten it to 254 bytes");
            }
        }
    }

    std::size_t ansiLength(std::string_view raw) const {
        if (!m_layout.utf8()) {
            return raw.size();
        }
        // A UTF-8 file is counted in the system code page: the longer of English and Chinese.
        std::size_t longest = 0;
        for (const platform::CodePage cp : {1252, 936}) {
            std::size_t length = 0;
            for (std::size_t pos = 0; pos < raw.size();) {
                std::size_t utf8Length = 1;
                length += static_cast<std::size_t>(
                    platform::ansiLengthOfCharacter(raw, pos, cp, utf8Length));
                pos += std::max<std::size_t>(utf8Length, 1);
            }
            longest = std::max(longest, length);
        }
        return longest;
    }

    // [Ver] or [Time]: Num, then each File<n> with its Ver<n> or Date<n> and Sha256<n>.
    void checkEntries(const std::string& section, const std::string& valueKey) {
        const Layout::Section* s = m_layout.section(section);
        const std::string header = "[" + section + "]";
        if (s == nullptr) {
            error(0,
                  header +
                      " is missing: the wizard reads its Num as empty and refuses the whole "
                      "file",
                  "add " + header + " with Num=0 when no file is checked by " +
                      (section == "Ver" ? "version" : "date"));
            return;
        }
        const int numLine = m_layout.lineOf(section, "Num");
        const std::string numText = value(section, "Num");
        const auto num = app::wholeNumberFromText(numText);
        if (!num || *num < std::numeric_limits<std::int32_t>::min() ||
            *num > std::numeric_limits<std::int32_t>::max()) {
            error(numLine,
                  header + " Num=" + quoted(numText) +
                      " is not a number: the wizard refuses the whole file",
                  "set Num to the number of entries (0 for none)");
            return;
        }
        if (*num > kMaxEntries) {
            error(numLine,
                  header + " Num=" + numText + " is above 32767: the wizard refuses the whole file",
                  "split the files over [Ver] and [Time], at most 32767 in each");
            return;
        }
        const std::string_view digits = trimBlanks(numText);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                           [](char c) { return c >= '0' && c <= '9'; })) {
            warning(numLine,
                    header + " Num=" + quoted(numText) + " reads as " + std::to_string(*num),
                    "write Num as a whole number");
        }
        const std::int64_t count = std::max<std::int64_t>(*num, 0);
        checkIndexes(*s, section, valueKey, count);

        controls::ListModel list;  // the wizard's list refuses numbers and repeated names
        std::map<std::string, int> firstLines;
        std::vector<std::int64_t> missing;
        for (std::int64_t n = 1; n <= count; ++n) {
            const std::string index = std::to_string(n);
            const std::string fileKey = "File" + index;
            const std::string name = value(section, fileKey);
            const int line = m_layout.lineOf(section, fileKey);
            if (name.empty()) {
                if (m_layout.key(section, fileKey) == nullptr) {
                    missing.push_back(n);
                } else {
                    error(line, fileKey + " is empty: the wizard refuses the whole file",
                          "name the file, or remove the entry and lower Num");
                }
                continue;
            }
            if (!checkName(section, fileKey, name, line, list, firstLines)) {
                continue;
            }
            const std::string releasePath =
                m_options.releaseFolder
                    ? platform::hostPathUnder(*m_options.releaseFolder, name).path
                    : std::string();
            if (valueKey == "Ver") {
                checkVersion(section, index, name, line, releasePath);
            } else {
                checkDate(section, index, line);
            }
            checkDigest(section, index, name, line, releasePath);
        }
        reportMissing(missing, numLine, numText);
    }

    // Keys numbered past Num are never read; keys numbered "01" never match either.
    void checkIndexes(const Layout::Section& s, const std::string& section,
                      const std::string& valueKey, std::int64_t count) {
        std::int64_t highest = 0;
        std::vector<const Layout::Key*> beyond;
        for (const Layout::Key& k : s.keys) {
            const std::string name = net::asciiLower(k.name);
            for (const std::string& prefix :
                 {std::string("file"), net::asciiLower(valueKey), std::string("sha256")}) {
                if (!name.starts_with(prefix) || name.size() == prefix.size()) {
                    continue;
                }
                const std::string_view digits = std::string_view(name).substr(prefix.size());
                if (!std::all_of(digits.begin(), digits.end(),
                                 [](char c) { return c >= '0' && c <= '9'; })) {
                    continue;
                }
                if (digits.front() == '0' || digits.size() > 9) {
                    warning(k.line,
                            k.name + " is never read: the wizard asks for " +
                                std::string(k.name.substr(0, prefix.size())) + "1, " +
                                std::string(k.name.substr(0, prefix.size())) + "2, ...",
                            "number the entries from 1, without leading zeros");
                    continue;
                }
                const std::int64_t n = std::stoll(std::string(digits));
                if (n <= count) {
                    continue;
                }
                if (prefix == "file") {
                    highest = std::max(highest, n);
                    beyond.push_back(&k);
                } else if (m_layout.key(section, "File" + std::string(digits)) == nullptr) {
                    warning(k.line,
                            k.name + " belongs to no entry: Num=" + std::to_string(count) +
                                " and there is no File" + std::string(digits),
                            "remove it, or add its File" + std::string(digits));
                }
            }
        }
        for (const Layout::Key* k : beyond) {
            error(k->line,
                  k->name + " is beyond [" + section + "] Num=" + std::to_string(count) +
                      ": the wizard never reads this entry",
                  "set Num=" + std::to_string(highest) + ", the number of entries");
        }
    }

    void reportMissing(const std::vector<std::int64_t>& missing, int numLine,
                       const std::string& numText) {
        // Runs of missing entries are one finding each: Num=500 over 3 entries is one mistake.
        for (std::size_t i = 0; i < missing.size();) {
            std::size_t j = i;
            while (j + 1 < missing.size() && missing[j + 1] == missing[j] + 1) {
                ++j;
            }
            const std::string what = i == j ? "File" + std::to_string(missing[i]) + " is missing"
                                            : "File" + std::to_string(missing[i]) + " to File" +
                                                  std::to_string(missing[j]) + " are missing";
            error(numLine,
                  what + " (Num=" + numText +
                      "): the wizard reads an empty name and refuses the whole file",
                  "add the entries, or set Num to the number of entries");
            i = j + 1;
        }
    }

    bool checkName(const std::string& section, const std::string& fileKey, const std::string& name,
                   int line, controls::ListModel& list, std::map<std::string, int>& firstLines) {
        const std::string what = fileKey + "=" + name;
        const platform::UpdatePath path = platform::hostPathUnder("/", name);
        if (!path) {
            error(line,
                  what + ": " + platform::describe(path.error) +
                      "; the wizard refuses the whole file",
                  "name the file relative to the application folder, folders separated by \\");
            return false;
        }
        const controls::ListError added = list.addRow(name);
        if (added == controls::ListError::NumericKey) {
            error(line,
                  what +
                      " reads as a number, which the wizard's list refuses; it refuses the "
                      "whole file",
                  "rename the file so that its name is not a number");
            return false;
        }
        if (added == controls::ListError::DuplicateKey) {
            error(line,
                  what + " repeats the name of line " + std::to_string(firstLines[name]) + " in [" +
                      section + "]; the wizard refuses the whole file",
                  "list each file once in the section");
            return false;
        }
        firstLines[name] = line;
        if (!isAscii(name)) {
            warning(line,
                    what +
                        " is not ASCII: English (1252) and Chinese (936) systems read it as "
                        "different names",
                    "give the file an ASCII name");
        }
        m_entries.push_back({name, line, false});
        return true;
    }

    void checkVersion(const std::string& section, const std::string& index, const std::string& name,
                      int fileLine, const std::string& releasePath) {
        const std::string key = "Ver" + index;
        const int line = m_layout.key(section, key) ? m_layout.lineOf(section, key) : fileLine;
        const std::string announced = value(section, key);
        if (announced.empty()) {
            error(line,
                  key + " of " + name +
                      " is empty: no version is older than an empty one, so the file is never "
                      "updated",
                  "announce the file's version (updtool version prints its key)");
            return;
        }
        m_versions.push_back({line, key, announced});
        if (releasePath.empty() || !isRegularFile(releasePath)) {
            return;
        }
        const std::string releaseKey = GetFileVersionText(releasePath, "ProductVersion");
        const std::string announcedKey = RemoveChar(announced, ".");
        if (isOlderVersion(releaseKey, announcedKey)) {
            error(line,
                  key + "=" + announced + " is newer than the release's " + name +
                      " (version key " + releaseKey +
                      "): once installed it still looks out of date, so it is fetched again "
                      "at every run",
                  "announce the version the file carries");
        } else if (releaseKey != announcedKey) {
            warning(line,
                    key + "=" + announced + " is older than the release's " + name +
                        " (version key " + releaseKey +
                        "): copies between the two versions are not updated",
                    "announce the version the file carries");
        }
    }

    void checkDate(const std::string& section, const std::string& index, int fileLine) {
        const std::string key = "Date" + index;
        const Layout::Key* k = m_layout.key(section, key);
        const int line = k != nullptr ? k->line : fileLine;
        const std::string text = value(section, key);
        const auto date = parseAnnouncedDate(text);
        if (!date) {
            error(line,
                  (k == nullptr ? key + " is missing" : key + "=" + quoted(text) + " is no date") +
                      ": the wizard cannot read it, and its plan fails (type mismatch) wherever "
                      "the file exists",
                  "write the date as YYYY-MM-DD HH:MM:SS (or with / or . in the date)");
            return;
        }
        if (m_options.now && *date > *m_options.now) {
            warning(line,
                    key + "=" + text +
                        " is later than now: a copy installed before then looks out of date "
                        "and is fetched again at every run until then",
                    "announce the file's last-write time (updtool make-ini writes it)");
        }
    }

    void checkDigest(const std::string& section, const std::string& index, const std::string& name,
                     int fileLine, const std::string& releasePath) {
        const std::string key = "Sha256" + index;
        const std::string digest = value(section, key);
        const int line = m_layout.key(section, key) ? m_layout.lineOf(section, key) : fileLine;
        m_entries.back().hasDigest = !digest.empty();
        if (!digest.empty() && !isSha256Hex(digest)) {
            error(line,
                  key + " of " + name +
                      " is not 64 lower-case hex digits: the wizard refuses the whole file",
                  "write the file's SHA-256 as sha256sum prints it");
            return;
        }
        if (releasePath.empty()) {
            return;
        }
        if (!isRegularFile(releasePath)) {
            error(fileLine, name + " is not in the release folder: every download of it fails",
                  "copy the file into the release folder, or remove its entry");
            return;
        }
        compareDigest(line, key, name, digest, releasePath);
    }

    void compareDigest(int line, const std::string& key, const std::string& name,
                       const std::string& digest, const std::string& path) {
        if (digest.empty() || !isSha256Hex(digest)) {
            return;
        }
        std::string why;
        const auto actual = sha256FileHex(path, &why);
        if (!actual) {
            error(line, "the release's " + name + " cannot be read: " + why,
                  "make the file readable");
        } else if (*actual != digest) {
            error(line,
                  key + " does not match the release's " + name + " (" + *actual +
                      "): the wizard refuses every download of it",
                  "write the digest again (updtool make-ini), or put the announced file back");
        }
    }

    // A 16-bit flag of [Update], read as the plan reads it.
    std::optional<std::int64_t> flag(const char* key) {
        const std::string text = value("Update", key);
        const int line = m_layout.lineOf("Update", key);
        const auto number = app::wholeNumberFromText(text);
        if (!number) {
            error(line,
                  std::string("[Update] ") + key + "=" + quoted(text) +
                      " is not a number: the wizard's plan fails (type mismatch)",
                  std::string("write ") + key + "=0, or " + key + "=1 to " +
                      (std::string_view(key) == "ForceUp" ? "offer the full package"
                                                          : "replace the updater"));
            return std::nullopt;
        }
        if (*number < std::numeric_limits<std::int16_t>::min() ||
            *number > std::numeric_limits<std::int16_t>::max()) {
            error(line,
                  std::string("[Update] ") + key + "=" + text +
                      " is out of range: the wizard's plan fails (overflow)",
                  std::string("write ") + key + "=0 or 1");
            return std::nullopt;
        }
        return number;
    }

    void checkUpdate() {
        struct Digest {
            const char* key;
            const char* file;
        };
        for (const Digest d :
             {Digest{"UpSha256", "Setup.zip"}, Digest{"UpdateSha256", "update.exe"},
              Digest{"MoveSha256", "FileMove.exe"}}) {
            const std::string digest = value("Update", d.key);
            const int line = m_layout.lineOf("Update", d.key);
            if (!digest.empty() && !isSha256Hex(digest)) {
                error(line,
                      std::string(d.key) +
                          " is not 64 lower-case hex digits: the wizard's plan fails",
                      std::string("write the SHA-256 of ") + d.file + " as sha256sum prints it");
                continue;
            }
            if (digest.empty() || !m_options.releaseFolder) {
                continue;
            }
            const std::string path = releaseFile(d.file);
            if (isRegularFile(path)) {
                compareDigest(line, d.key, d.file, digest, path);
            } else if (std::string_view(d.file) != "Setup.zip") {
                warning(line,
                        std::string(d.file) + " is not in the release folder, so " + d.key +
                            " was not checked",
                        std::string("put ") + d.file + " in the release folder");
            }
        }

        const auto forceUp = flag("ForceUp");
        const auto update = flag("Update");
        if (forceUp && *forceUp == 1) {
            const std::string url = value("Update", "UpURL");
            const int line = m_layout.lineOf("Update", "UpURL");
            if (url.empty()) {
                error(m_layout.lineOf("Update", "ForceUp"),
                      "ForceUp=1 without UpURL: the wizard would fetch the full package from "
                      "no address",
                      "give the package's http:// or https:// address in UpURL, or set ForceUp=0");
            } else if (net::asciiLower(url.substr(0, 7)) != "http://" &&
                       net::asciiLower(url.substr(0, 8)) != "https://") {
                error(line,
                      "UpURL=" + url +
                          " is not an http:// or https:// address: the wizard fetches only over "
                          "http and https",
                      "serve the package over http or https and give that address");
            }
            if (value("Update", "UpSha256").empty()) {
                missingDigest(m_layout.lineOf("Update", "ForceUp"), "ForceUp=1 without UpSha256",
                              "the full package is not checked",
                              "add UpSha256, the package's SHA-256 (updtool make-ini writes it)");
            }
        }
        if (update && *update == 1) {
            checkUpdaterVersion("UpdateVer", "update.exe", true);
            if (value("Update", "UpdateSha256").empty()) {
                missingDigest(m_layout.lineOf("Update", "Update"), "Update=1 without UpdateSha256",
                              "the new updater is not checked",
                              "add UpdateSha256, the SHA-256 of update.exe (updtool make-ini "
                              "writes it)");
            }
            checkUpdaterVersion("MoveVer", "FileMove.exe", false);
            // An empty MoveVer never fetches FileMove.exe: nothing to check then.
            if (!value("Update", "MoveVer").empty() && value("Update", "MoveSha256").empty()) {
                missingDigest(m_layout.lineOf("Update", "MoveVer"),
                              "Update=1 and MoveVer without MoveSha256",
                              "the new FileMove.exe is not checked",
                              "add MoveSha256, the SHA-256 of FileMove.exe (updtool make-ini "
                              "writes it)");
            }
        }
    }

    void checkUpdaterVersion(const char* key, const char* file, bool required) {
        const std::string announced = value("Update", key);
        const int line = m_layout.key("Update", key) ? m_layout.lineOf("Update", key)
                                                     : m_layout.lineOf("Update", "Update");
        if (announced.empty()) {
            if (required) {
                error(
                    line,
                    std::string("Update=1 with an empty ") + key +
                        ": no version is older than an empty one, so the updater is never "
                        "replaced",
                    std::string("give the new updater's version in ") + key + ", or set Update=0");
            }
            return;
        }
        m_versions.push_back({line, key, announced});
        const std::string path = m_options.releaseFolder ? releaseFile(file) : std::string();
        if (path.empty() || !isRegularFile(path)) {
            return;
        }
        const std::string releaseKey = GetFileVersionText(path, "ProductVersion");
        if (isOlderVersion(releaseKey, RemoveChar(announced, "."))) {
            add(required ? LintSeverity::Error : LintSeverity::Warning, line,
                std::string(key) + "=" + announced + " is newer than the release's " + file +
                    " (version key " + releaseKey +
                    "): once installed it still looks out of "
                    "date, and is fetched again",
                std::string("announce the version ") + file + " carries");
        }
    }

    void checkDigestCoverage() {
        const auto digested = std::count_if(m_entries.begin(), m_entries.end(),
                                            [](const Entry& e) { return e.hasDigest; });
        if (m_entries.empty() || digested == static_cast<std::ptrdiff_t>(m_entries.size())) {
            return;
        }
        // None at all is one mistake, reported once.
        if (digested == 0) {
            missingDigest(0, "no file has a Sha256<n>", "the wizard installs downloads unchecked",
                          "add the digests (updtool make-ini writes them)");
            return;
        }
        for (const Entry& e : m_entries) {
            if (!e.hasDigest) {
                missingDigest(e.line, e.name + " has no Sha256 digest",
                              "its download is not checked",
                              "add its digest (updtool make-ini writes them)");
            }
        }
    }

    // Keys compare as text with the dots removed (file_version.h isOlderVersion), which
    // follows numeric order only while each part keeps its width: 2.9 gives "29" and 2.10
    // gives "210", and "210" sorts before "29", so 2.10 counts as older than 2.9.
    void checkVersionWidths() {
        const VersionText* reference = nullptr;
        std::vector<std::size_t> referenceWidths;
        for (const VersionText& v : m_versions) {
            std::vector<std::size_t> widths;
            bool dotted = true;
            std::size_t start = 0;
            for (;;) {
                const std::size_t dot = v.text.find('.', start);
                const std::string_view part = std::string_view(v.text).substr(
                    start, dot == std::string::npos ? std::string::npos : dot - start);
                dotted = dotted && !part.empty() &&
                         std::all_of(part.begin(), part.end(),
                                     [](char c) { return c >= '0' && c <= '9'; });
                widths.push_back(part.size());
                if (dot == std::string::npos) {
                    break;
                }
                start = dot + 1;
            }
            if (!dotted) {
                warning(v.line,
                        v.label + "=" + v.text +
                            " is not digits between dots: the wizard compares it as text with "
                            "only the dots removed",
                        "write the version as digits and dots, as in 2.1.0.4");
                continue;
            }
            if (reference == nullptr) {
                reference = &v;
                referenceWidths = widths;
                continue;
            }
            if (widths != referenceWidths) {
                warning(v.line,
                        v.label + "=" + v.text + " and " + reference->label + "=" +
                            reference->text + " (line " + std::to_string(reference->line) +
                            ") have parts of different widths: the wizard compares versions as "
                            "text with the dots removed, so 2.10 counts as older than 2.9 "
                            "(\"210\" sorts before \"29\")",
                        "give each part the same number of digits in every version (2.01 ... "
                        "2.10)");
            }
        }
    }

    void checkUnannounced() {
        if (!m_options.releaseFolder) {
            return;
        }
        std::set<std::string> named;
        for (const Entry& e : m_entries) {
            named.insert(e.name);
        }
        for (const ReleaseEntry& file : listReleaseFiles(*m_options.releaseFolder).files) {
            if (!named.contains(file.name)) {
                warning(0,
                        file.name +
                            " is in the release folder but not in update.ini: no "
                            "user is offered it",
                        "add an entry for it (updtool make-ini lists every file)");
            }
        }
    }

    std::string releaseFile(const char* name) const {
        return platform::hostPathUnder(*m_options.releaseFolder, name).path;
    }

    static bool isRegularFile(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }

    Layout m_layout;
    ProfileDocument m_document;
    const LintOptions& m_options;
    std::vector<LintFinding> m_findings;
    std::vector<Entry> m_entries;
    std::vector<VersionText> m_versions;
};

}  // namespace

LintFinding tooLargeFinding() {
    return {0, LintSeverity::Error,
            "the file is larger than 64 MiB: the wizard reads it as empty and refuses it",
            "announce fewer files"};
}

std::vector<LintFinding> lintUpdateIni(std::string_view bytes, const LintOptions& options) {
    if (bytes.size() > kMaxProfileFileBytes) {
        return {tooLargeFinding()};
    }
    return Lint(bytes, options).run();
}

bool hasErrors(const std::vector<LintFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const LintFinding& f) { return f.severity == LintSeverity::Error; });
}

std::string formatFinding(const LintFinding& finding) {
    return std::to_string(finding.line) + ": " +
           (finding.severity == LintSeverity::Warning ? "warning: " : "") + finding.problem +
           ". fix: " + finding.fix;
}

}  // namespace upd::wizard
