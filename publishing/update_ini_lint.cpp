#include "publishing/update_ini_lint.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "controls/list_model.h"
#include "net/ascii_case.h"
#include "platform/code_page.h"
#include "platform/language.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "publishing/update_ini_writer.h"
#include "wizard/announced_date.h"
#include "wizard/file_version.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_file.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

// Values are judged as an English system reads them; the names and numbers the wizard acts
// on are ASCII, and a name that is not gets a warning of its own.
constexpr platform::CodePage kLintCodePage = 1252;

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// ---- What the reader passes over -------------------------------------------------------

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
        struct Section {
            int line = 0;
            std::map<std::string, int> keys;  // folded name -> line of its first occurrence
        };
        std::map<std::string, Section> sections;  // folded name -> the first section
        std::size_t pos = 0;
        if (bytes.starts_with("\xEF\xBB\xBF")) {
            pos = 3;
        }
        Section* current = nullptr;
        bool inRepeated = false;
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
                    const auto [it, inserted] = sections.try_emplace(
                        net::asciiLower(trimBlanks(text.substr(1, close - 1))));
                    inRepeated = !inserted;
                    if (inserted) {
                        it->second.line = line;
                        current = &it->second;
                    } else {
                        current = nullptr;
                        m_repeatedSections.push_back(
                            {line, std::string(text.substr(0, close + 1)), it->second.line, 0});
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
            // Only the name: what stands after '=' is the reader's to read.
            const std::string_view name = trimBlanks(text.substr(0, text.find('=')));
            const auto [it, inserted] = current->keys.try_emplace(net::asciiLower(name), line);
            if (!inserted) {
                m_repeatedKeys.push_back({line, std::string(name), it->second});
            }
        }
    }

    const std::vector<RepeatedSection>& repeatedSections() const { return m_repeatedSections; }
    const std::vector<RepeatedKey>& repeatedKeys() const { return m_repeatedKeys; }
    // Lines above the first section that are neither blank nor comments.
    const std::vector<int>& strayLines() const { return m_strayLines; }

  private:
    std::vector<RepeatedSection> m_repeatedSections;
    std::vector<RepeatedKey> m_repeatedKeys;
    std::vector<int> m_strayLines;
};

// The key's line, else its section's (0 when the section is absent too).
int lineOf(const IniValue& value, int sectionLine) {
    return value.present ? value.line : sectionLine;
}

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
        : m_passedOver(bytes),
          m_document(ProfileDocument::parse(std::string(bytes), kLintCodePage)),
          m_ini(readUpdateIni(m_document)),
          m_options(options) {
        // The wizard's own rule of which downloads need a digest (information_file.h).
        for (const MissingDigest& missing : missingDigestKeys(m_ini)) {
            m_missingDigests.insert(missing.text());
        }
    }

    std::vector<LintFinding> run() {
        checkStructure();
        checkLengths();
        checkEntries(m_ini.ver);
        checkEntries(m_ini.time);
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
    // The wizard's missingDigests names this key of the section.
    bool lacksDigest(std::string_view section, std::string key, std::int64_t entry = 0) const {
        return m_missingDigests.contains(MissingDigest{section, std::move(key), entry}.text());
    }

    void checkStructure() {
        for (const auto& s : m_passedOver.repeatedSections()) {
            add(s.ignoredKeys > 0 ? LintSeverity::Error : LintSeverity::Warning, s.line,
                s.header + " repeats the section of line " + std::to_string(s.firstLine) +
                    ": the wizard reads only the first, and passes over every key of this one",
                "move these keys into the first " + s.header + " section");
        }
        for (const auto& k : m_passedOver.repeatedKeys()) {
            warning(k.line,
                    k.name + " is repeated: the wizard reads only the one on line " +
                        std::to_string(k.firstLine),
                    "keep one " + k.name + " in the section");
        }
        for (const int line : m_passedOver.strayLines()) {
            warning(line, "this line is above the first section: the wizard ignores it",
                    "move it into a section, or start it with ';' to make it a comment");
        }
    }

    // A value longer than the reader's buffer arrives cut.
    void checkLengths() {
        // Texts only shown are cut harmlessly; names, numbers and digests are not.
        const std::set<std::string> shownKeys = {
            net::asciiLower(contentsKey(platform::languageProfile(platform::kLangEnglishUS).tag)),
            net::asciiLower(
                contentsKey(platform::languageProfile(platform::kLangChineseSimplified).tag)),
            net::asciiLower(kReleaseVersionKey), net::asciiLower(kReleaseTimeKey)};
        for (const std::string_view sectionName :
             {kUpdateSection, kVerSection, kTimeSection, kDescriptSection}) {
            for (const ProfileDocument::KeyLine& k : m_document.keyLines(sectionName)) {
                const std::size_t length = ansiLength(k.raw);
                if (length <= kMaxIniValueBytes) {
                    continue;
                }
                const bool shown =
                    sectionName == kDescriptSection ||
                    (sectionName == kUpdateSection && shownKeys.contains(net::asciiLower(k.name)));
                add(shown ? LintSeverity::Warning : LintSeverity::Error, k.line,
                    std::string(k.name) + " is " + std::to_string(length) +
                        " bytes long: the wizard reads only its first 254",
                    "shorten it to 254 bytes");
            }
        }
    }

    std::size_t ansiLength(std::string_view raw) const {
        if (m_document.encoding() != ProfileEncoding::Utf8) {
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
    void checkEntries(const FileSection& section) {
        const std::string header = "[" + std::string(section.name) + "]";
        if (section.line == 0) {
            error(0,
                  header +
                      " is missing: the wizard reads its Num as empty and refuses the whole "
                      "file",
                  "add " + header + " with Num=0 when no file is checked by " +
                      (section.name == kVerSection ? "version" : "date"));
            return;
        }
        const int numLine = lineOf(section.num, section.line);
        const std::string& numText = section.num.text;
        const std::optional<std::int64_t>& num = section.count;
        if (!num || *num < std::numeric_limits<std::int32_t>::min() ||
            *num > std::numeric_limits<std::int32_t>::max()) {
            error(numLine,
                  header + " Num=" + quoted(numText) +
                      " is not a number: the wizard refuses the whole file",
                  "set Num to the number of entries (0 for none)");
            return;
        }
        if (*num > kMaxFileEntries) {
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
        checkIndexes(section, count);

        controls::ListModel list;  // the wizard's list refuses numbers and repeated names
        std::map<std::string, int> firstLines;
        std::vector<std::int64_t> missing;
        // The entries are 1 .. count here: count is at most kMaxFileEntries.
        for (std::size_t i = 0; i < section.entries.size(); ++i) {
            const FileEntry& entry = section.entries[i];
            const auto n = static_cast<std::int64_t>(i + 1);
            const std::string key = fileKey(n);
            const std::string& name = entry.file.text;
            const int line = lineOf(entry.file, section.line);
            if (name.empty()) {
                if (!entry.file.present) {
                    missing.push_back(n);
                } else {
                    error(line, key + " is empty: the wizard refuses the whole file",
                          "name the file, or remove the entry and lower Num");
                }
                continue;
            }
            if (!checkName(section.name, key, name, line, list, firstLines)) {
                continue;
            }
            const std::string releasePath =
                m_options.releaseFolder
                    ? platform::hostPathUnder(*m_options.releaseFolder, name).path
                    : std::string();
            if (section.valuePrefix == kVersionPrefix) {
                checkVersion(entry.value, n, name, line, releasePath);
            } else {
                checkDate(entry.value, n, line);
            }
            checkDigest(section.name, entry.sha256, n, name, line, releasePath);
        }
        reportMissing(missing, numLine, numText);
    }

    // Keys numbered past Num are never read; keys numbered "01" never match either.
    void checkIndexes(const FileSection& section, std::int64_t count) {
        const std::string filePrefix = net::asciiLower(kFilePrefix);
        const std::string prefixes[] = {filePrefix, net::asciiLower(section.valuePrefix),
                                        net::asciiLower(kSha256Prefix)};
        const std::vector<ProfileDocument::KeyLine> keys = m_document.keyLines(section.name);
        std::int64_t highest = 0;
        std::vector<const ProfileDocument::KeyLine*> beyond;
        for (const ProfileDocument::KeyLine& k : keys) {
            const std::string name = net::asciiLower(k.name);
            for (const std::string& prefix : prefixes) {
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
                            std::string(k.name) + " is never read: the wizard asks for " +
                                std::string(k.name.substr(0, prefix.size())) + "1, " +
                                std::string(k.name.substr(0, prefix.size())) + "2, ...",
                            "number the entries from 1, without leading zeros");
                    continue;
                }
                const std::int64_t n = std::stoll(std::string(digits));
                if (n <= count) {
                    continue;
                }
                // Without leading zeros, fileKey(n) is "File" and these very digits.
                if (prefix == filePrefix) {
                    highest = std::max(highest, n);
                    beyond.push_back(&k);
                } else if (!m_document.findLocated(section.name, fileKey(n))) {
                    warning(k.line,
                            std::string(k.name) + " belongs to no entry: Num=" +
                                std::to_string(count) + " and there is no " + fileKey(n),
                            "remove it, or add its " + fileKey(n));
                }
            }
        }
        for (const ProfileDocument::KeyLine* k : beyond) {
            error(k->line,
                  std::string(k->name) + " is beyond [" + std::string(section.name) +
                      "] Num=" + std::to_string(count) + ": the wizard never reads this entry",
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
            const std::string what =
                i == j ? fileKey(missing[i]) + " is missing"
                       : fileKey(missing[i]) + " to " + fileKey(missing[j]) + " are missing";
            error(numLine,
                  what + " (Num=" + numText +
                      "): the wizard reads an empty name and refuses the whole file",
                  "add the entries, or set Num to the number of entries");
            i = j + 1;
        }
    }

    bool checkName(std::string_view section, const std::string& key, const std::string& name,
                   int line, controls::ListModel& list, std::map<std::string, int>& firstLines) {
        const std::string what = key + "=" + name;
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
                      std::string(section) + "]; the wizard refuses the whole file",
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

    void checkVersion(const IniValue& version, std::int64_t n, const std::string& name,
                      int fileLine, const std::string& releasePath) {
        const std::string key = versionKey(n);
        const int line = lineOf(version, fileLine);
        const std::string& announced = version.text;
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

    void checkDate(const IniValue& dateValue, std::int64_t n, int fileLine) {
        const std::string key = dateKey(n);
        const int line = lineOf(dateValue, fileLine);
        const std::string& text = dateValue.text;
        const auto date = parseAnnouncedDate(text);
        if (!date) {
            error(line,
                  (!dateValue.present ? key + " is missing"
                                      : key + "=" + quoted(text) + " is no date") +
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

    void checkDigest(std::string_view section, const IniValue& sha256, std::int64_t n,
                     const std::string& name, int fileLine, const std::string& releasePath) {
        const std::string key = sha256Key(n);
        const std::string& digest = sha256.text;
        const int line = lineOf(sha256, fileLine);
        m_entries.back().hasDigest = !lacksDigest(section, key, n);
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
    std::optional<std::int16_t> flag(const IniValue& flagValue, std::string_view key) {
        const FlagReading reading = readFlag(flagValue);
        const int line = lineOf(flagValue, m_ini.update.line);
        const std::string name(key);
        const std::string header = "[" + std::string(kUpdateSection) + "] ";
        if (reading.problem == FlagProblem::NotANumber) {
            error(line,
                  header + name + "=" + quoted(flagValue.text) +
                      " is not a number: the wizard's plan fails (type mismatch)",
                  "write " + name + "=0, or " + name + "=1 to " +
                      (key == kForceUpKey ? "offer the full package" : "replace the updater"));
        } else if (reading.problem == FlagProblem::OutOfRange) {
            error(line,
                  header + name + "=" + flagValue.text +
                      " is out of range: the wizard's plan fails (overflow)",
                  "write " + name + "=0 or 1");
        }
        return reading.value;
    }

    void checkUpdate() {
        const UpdateSection& update = m_ini.update;
        struct Digest {
            const IniValue* value;
            std::string_view key;
            std::string_view file;
        };
        for (const Digest d : {Digest{&update.upSha256, kUpSha256Key, kPackageFileName},
                               Digest{&update.updateSha256, kUpdateSha256Key, kUpdaterFileName},
                               Digest{&update.moveSha256, kMoveSha256Key, kMoverFileName}}) {
            const std::string& digest = d.value->text;
            const std::string key(d.key);
            const std::string file(d.file);
            const int line = lineOf(*d.value, update.line);
            if (!digest.empty() && !isSha256Hex(digest)) {
                error(line, key + " is not 64 lower-case hex digits: the wizard's plan fails",
                      "write the SHA-256 of " + file + " as sha256sum prints it");
                continue;
            }
            if (digest.empty() || !m_options.releaseFolder) {
                continue;
            }
            const std::string path = releaseFile(file);
            if (isRegularFile(path)) {
                compareDigest(line, key, file, digest, path);
            } else if (d.file != kPackageFileName) {
                warning(line,
                        file + " is not in the release folder, so " + key + " was not checked",
                        "put " + file + " in the release folder");
            }
        }

        const auto forceUp = flag(update.forceUp, kForceUpKey);
        const auto updateFlag = flag(update.update, kUpdateKey);
        if (forceUp && *forceUp == 1) {
            const std::string& url = update.upUrl.text;
            const int line = lineOf(update.upUrl, update.line);
            const int forceUpLine = lineOf(update.forceUp, update.line);
            if (url.empty()) {
                error(forceUpLine,
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
            if (lacksDigest(kUpdateSection, std::string(kUpSha256Key))) {
                missingDigest(forceUpLine, "ForceUp=1 without UpSha256",
                              "the full package is not checked",
                              "add UpSha256, the package's SHA-256 (updtool make-ini writes it)");
            }
        }
        if (updateFlag && *updateFlag == 1) {
            checkUpdaterVersion(update.updateVer, kUpdateVerKey, kUpdaterFileName, true);
            if (lacksDigest(kUpdateSection, std::string(kUpdateSha256Key))) {
                missingDigest(lineOf(update.update, update.line), "Update=1 without UpdateSha256",
                              "the new updater is not checked",
                              "add UpdateSha256, the SHA-256 of update.exe (updtool make-ini "
                              "writes it)");
            }
            checkUpdaterVersion(update.moveVer, kMoveVerKey, kMoverFileName, false);
            // Only a MoveVer with more than dots in it ever fetches FileMove.exe.
            if (lacksDigest(kUpdateSection, std::string(kMoveSha256Key))) {
                missingDigest(lineOf(update.moveVer, update.line),
                              "Update=1 and MoveVer without MoveSha256",
                              "the new FileMove.exe is not checked",
                              "add MoveSha256, the SHA-256 of FileMove.exe (updtool make-ini "
                              "writes it)");
            }
        }
    }

    void checkUpdaterVersion(const IniValue& version, std::string_view key, std::string_view file,
                             bool required) {
        const std::string& announced = version.text;
        const int line =
            version.present ? version.line : lineOf(m_ini.update.update, m_ini.update.line);
        if (announced.empty()) {
            if (required) {
                error(
                    line,
                    "Update=1 with an empty " + std::string(key) +
                        ": no version is older than an empty one, so the updater is never "
                        "replaced",
                    "give the new updater's version in " + std::string(key) + ", or set Update=0");
            }
            return;
        }
        m_versions.push_back({line, std::string(key), announced});
        const std::string path = m_options.releaseFolder ? releaseFile(file) : std::string();
        if (path.empty() || !isRegularFile(path)) {
            return;
        }
        const std::string releaseKey = GetFileVersionText(path, "ProductVersion");
        if (isOlderVersion(releaseKey, RemoveChar(announced, "."))) {
            add(required ? LintSeverity::Error : LintSeverity::Warning, line,
                std::string(key) + "=" + announced + " is newer than the release's " +
                    std::string(file) + " (version key " + releaseKey +
                    "): once installed it still looks out of "
                    "date, and is fetched again",
                "announce the version " + std::string(file) + " carries");
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

    std::string releaseFile(std::string_view name) const {
        return platform::hostPathUnder(*m_options.releaseFolder, name).path;
    }

    static bool isRegularFile(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }

    PassedOver m_passedOver;
    ProfileDocument m_document;
    UpdateIniFile m_ini;                     // read from m_document
    std::set<std::string> m_missingDigests;  // MissingDigest::text() of each
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
