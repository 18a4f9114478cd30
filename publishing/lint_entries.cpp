#include "publishing/lint_checks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/list_model.h"
#include "net/ascii_case.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "wizard/announced_date.h"
#include "wizard/announced_size.h"
#include "wizard/file_version.h"
#include "wizard/profile_document.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard::lint {
namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// What the entries of one section share while they are checked in turn.
struct SectionScan {
    controls::ListModel list;  // the wizard's list refuses numbers and repeated names
    std::map<std::string, int> firstLines;
    std::vector<std::int64_t> missing;  // entries without a File<n> key at all
};

// The n of a key named `prefix` and digits (`name` is the key folded), when n is past
// `count`; nothing for any other key. Digits the wizard never asks for ("File01") are a
// warning here, and nothing.
std::optional<std::int64_t> indexPastNum(LintContext& ctx, const ProfileDocument::KeyLine& k,
                                         const std::string& name, const std::string& prefix,
                                         std::int64_t count) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) {
        return std::nullopt;
    }
    const std::string_view digits = std::string_view(name).substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), isDigit)) {
        return std::nullopt;
    }
    if (digits.front() == '0' || digits.size() > 9) {
        ctx.warning(k.line,
                    std::string(k.name) + " is never read: the wizard asks for " +
                        std::string(k.name.substr(0, prefix.size())) + "1, " +
                        std::string(k.name.substr(0, prefix.size())) + "2, ...",
                    "number the entries from 1, without leading zeros");
        return std::nullopt;
    }
    const std::int64_t n = std::stoll(std::string(digits));
    if (n <= count) {
        return std::nullopt;
    }
    return n;
}

// Keys numbered past Num are never read; keys numbered "01" never match either.
void checkIndexes(LintContext& ctx, const FileSection& section, std::int64_t count) {
    const std::string filePrefix = net::asciiLower(kFilePrefix);
    const std::string prefixes[] = {filePrefix,
                                    net::asciiLower(section.valuePrefix),
                                    net::asciiLower(kSha256Prefix),
                                    net::asciiLower(kSizePrefix),
                                    net::asciiLower(kZstSha256Prefix),
                                    net::asciiLower(kZstSizePrefix)};
    const std::vector<ProfileDocument::KeyLine> keys = ctx.document().keyLines(section.name);
    std::int64_t highest = 0;
    std::vector<const ProfileDocument::KeyLine*> beyond;
    for (const ProfileDocument::KeyLine& k : keys) {
        const std::string name = net::asciiLower(k.name);
        for (const std::string& prefix : prefixes) {
            const std::optional<std::int64_t> n = indexPastNum(ctx, k, name, prefix, count);
            if (!n) {
                continue;
            }
            // Without leading zeros, fileKey(n) is "File" and these very digits.
            if (prefix == filePrefix) {
                highest = std::max(highest, *n);
                beyond.push_back(&k);
            } else if (!ctx.document().findLocated(section.name, fileKey(*n))) {
                ctx.warning(k.line,
                            std::string(k.name) + " belongs to no entry: Num=" +
                                std::to_string(count) + " and there is no " + fileKey(*n),
                            "remove it, or add its " + fileKey(*n));
            }
        }
    }
    for (const ProfileDocument::KeyLine* k : beyond) {
        ctx.error(k->line,
                  std::string(k->name) + " is beyond [" + std::string(section.name) +
                      "] Num=" + std::to_string(count) + ": the wizard never reads this entry",
                  "set Num=" + std::to_string(highest) + ", the number of entries");
    }
}

void reportMissing(LintContext& ctx, const std::vector<std::int64_t>& missing, int numLine,
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
        ctx.error(numLine,
                  what + " (Num=" + numText +
                      "): the wizard reads an empty name and refuses the whole file",
                  "add the entries, or set Num to the number of entries");
        i = j + 1;
    }
}

bool checkName(LintContext& ctx, std::string_view section, const std::string& key,
               const std::string& name, int line, controls::ListModel& list,
               std::map<std::string, int>& firstLines) {
    const std::string what = key + "=" + name;
    const platform::UpdatePath path = platform::hostPathUnder("/", name);
    if (!path) {
        ctx.error(
            line,
            what + ": " + platform::describe(path.error) + "; the wizard refuses the whole file",
            "name the file relative to the application folder, folders separated by \\");
        return false;
    }
    const controls::ListError added = list.addRow(name);
    if (added == controls::ListError::NumericKey) {
        ctx.error(line,
                  what +
                      " reads as a number, which the wizard's list refuses; it refuses the "
                      "whole file",
                  "rename the file so that its name is not a number");
        return false;
    }
    if (added == controls::ListError::DuplicateKey) {
        ctx.error(line,
                  what + " repeats the name of line " + std::to_string(firstLines[name]) + " in [" +
                      std::string(section) + "]; the wizard refuses the whole file",
                  "list each file once in the section");
        return false;
    }
    firstLines[name] = line;
    if (!isAscii(name)) {
        ctx.warning(line,
                    what +
                        " is not ASCII: English (1252) and Chinese (936) systems read it as "
                        "different names",
                    "give the file an ASCII name");
    }
    ctx.entries().push_back({name, line, false});
    return true;
}

void checkVersion(LintContext& ctx, const IniValue& version, std::int64_t n,
                  const std::string& name, int fileLine, const std::string& releasePath) {
    const std::string key = versionKey(n);
    const int line = lineOf(version, fileLine);
    const std::string& announced = version.text;
    if (announced.empty()) {
        ctx.error(line,
                  key + " of " + name +
                      " is empty: no version is older than an empty one, so the file is never "
                      "updated",
                  "announce the file's version (updtool version prints its key)");
        return;
    }
    ctx.versions().push_back({line, key, announced});
    if (releasePath.empty() || !LintContext::isRegularFile(releasePath)) {
        return;
    }
    const std::string releaseKey = GetFileVersionText(releasePath, "ProductVersion");
    const std::string announcedKey = RemoveChar(announced, ".");
    if (isOlderVersion(releaseKey, announcedKey)) {
        ctx.error(line,
                  key + "=" + announced + " is newer than the release's " + name +
                      " (version key " + releaseKey +
                      "): once installed it still looks out of date, so it is fetched again "
                      "at every run",
                  "announce the version the file carries");
    } else if (releaseKey != announcedKey) {
        ctx.warning(line,
                    key + "=" + announced + " is older than the release's " + name +
                        " (version key " + releaseKey +
                        "): copies between the two versions are not updated",
                    "announce the version the file carries");
    }
}

void checkDate(LintContext& ctx, const IniValue& dateValue, std::int64_t n, int fileLine) {
    const std::string key = dateKey(n);
    const int line = lineOf(dateValue, fileLine);
    const std::string& text = dateValue.text;
    const auto date = parseAnnouncedDate(text);
    if (!date) {
        ctx.error(
            line,
            (!dateValue.present ? key + " is missing" : key + "=" + quoted(text) + " is no date") +
                ": the wizard cannot read it, and its plan fails (type mismatch) wherever "
                "the file exists",
            "write the date as YYYY-MM-DD HH:MM:SS (or with / or . in the date)");
        return;
    }
    if (ctx.options().now && *date > *ctx.options().now) {
        ctx.warning(line,
                    key + "=" + text +
                        " is later than now: a copy installed before then looks out of date "
                        "and is fetched again at every run until then",
                    "announce the file's last-write time (updtool make-ini writes it)");
    }
}

void checkDigest(LintContext& ctx, std::string_view section, const IniValue& sha256, std::int64_t n,
                 const std::string& name, int fileLine, const std::string& releasePath) {
    const std::string key = sha256Key(n);
    const std::string& digest = sha256.text;
    const int line = lineOf(sha256, fileLine);
    ctx.entries().back().hasDigest = !ctx.lacksDigest(section, key, n);
    if (!digest.empty() && !isSha256Hex(digest)) {
        ctx.error(line,
                  key + " of " + name +
                      " is not 64 lower-case hex digits: the wizard refuses the whole file",
                  "write the file's SHA-256 as sha256sum prints it");
        return;
    }
    if (releasePath.empty()) {
        return;
    }
    if (!LintContext::isRegularFile(releasePath)) {
        ctx.error(fileLine, name + " is not in the release folder: every download of it fails",
                  "copy the file into the release folder, or remove its entry");
        return;
    }
    compareDigest(ctx, line, key, name, digest, releasePath);
}

void checkSize(LintContext& ctx, const IniValue& sizeValue, std::int64_t n, const std::string& name,
               int fileLine, const std::string& releasePath) {
    const SizeReading reading = readAnnouncedSize(sizeValue);
    const std::string key = sizeKey(n);
    const int line = lineOf(sizeValue, fileLine);
    if (reading.malformed) {
        ctx.error(line,
                  key + " of " + name + " " + malformedSizeText(sizeValue.text) +
                      ": the wizard's plan fails",
                  "write the file's length in bytes (updtool make-ini writes it)");
        return;
    }
    if (reading.size && !releasePath.empty()) {
        compareSize(ctx, line, key, name, *reading.size, releasePath);
    }
}

// Entry n of the section: File<n>, then its Ver<n> or Date<n>, then its Sha256<n> and Size<n>.
void checkEntry(LintContext& ctx, const FileSection& section, const FileEntry& entry,
                std::int64_t n, SectionScan& scan) {
    const std::string key = fileKey(n);
    const std::string& name = entry.file.text;
    const int line = lineOf(entry.file, section.line);
    if (name.empty()) {
        if (!entry.file.present) {
            scan.missing.push_back(n);
        } else {
            ctx.error(line, key + " is empty: the wizard refuses the whole file",
                      "name the file, or remove the entry and lower Num");
        }
        return;
    }
    if (!checkName(ctx, section.name, key, name, line, scan.list, scan.firstLines)) {
        return;
    }
    const std::string releasePath =
        ctx.options().releaseFolder
            ? platform::hostPathUnder(*ctx.options().releaseFolder, name).path
            : std::string();
    if (section.valuePrefix == kVersionPrefix) {
        checkVersion(ctx, entry.value, n, name, line, releasePath);
    } else {
        checkDate(ctx, entry.value, n, line);
    }
    checkDigest(ctx, section.name, entry.sha256, n, name, line, releasePath);
    checkSize(ctx, entry.size, n, name, line, releasePath);
}

// The widths of a version's parts between dots, and whether every part is digits ("2..1"
// and "2.x" are not).
struct VersionParts {
    std::vector<std::size_t> widths;
    bool dotted = true;
};

VersionParts versionParts(const std::string& text) {
    VersionParts parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = std::string_view(text).substr(
            start, dot == std::string::npos ? std::string::npos : dot - start);
        parts.dotted =
            parts.dotted && !part.empty() && std::all_of(part.begin(), part.end(), isDigit);
        parts.widths.push_back(part.size());
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return parts;
}

}  // namespace

// [Ver] or [Time]: Num, then each File<n> with its Ver<n> or Date<n> and Sha256<n>.
void checkEntries(LintContext& ctx, const FileSection& section) {
    const std::string header = "[" + std::string(section.name) + "]";
    if (section.line == 0) {
        ctx.error(0,
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
        ctx.error(numLine,
                  header + " Num=" + quoted(numText) +
                      " is not a number: the wizard refuses the whole file",
                  "set Num to the number of entries (0 for none)");
        return;
    }
    if (*num > kMaxFileEntries) {
        ctx.error(numLine,
                  header + " Num=" + numText + " is above 32767: the wizard refuses the whole file",
                  "split the files over [Ver] and [Time], at most 32767 in each");
        return;
    }
    const std::string_view digits = trimBlanks(numText);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) {
        ctx.warning(numLine,
                    header + " Num=" + quoted(numText) + " reads as " + std::to_string(*num),
                    "write Num as a whole number");
    }
    const std::int64_t count = std::max<std::int64_t>(*num, 0);
    checkIndexes(ctx, section, count);

    SectionScan scan;
    // The entries are 1 .. count here: count is at most kMaxFileEntries.
    for (std::size_t i = 0; i < section.entries.size(); ++i) {
        checkEntry(ctx, section, section.entries[i], static_cast<std::int64_t>(i + 1), scan);
    }
    reportMissing(ctx, scan.missing, numLine, numText);
}

// Keys compare as text with the dots removed (file_version.h isOlderVersion), which
// follows numeric order only while each part keeps its width: 2.9 gives "29" and 2.10
// gives "210", and "210" sorts before "29", so 2.10 counts as older than 2.9.
void checkVersionWidths(LintContext& ctx) {
    const VersionText* reference = nullptr;
    std::vector<std::size_t> referenceWidths;
    for (const VersionText& v : ctx.versions()) {
        const VersionParts parts = versionParts(v.text);
        if (!parts.dotted) {
            ctx.warning(v.line,
                        v.label + "=" + v.text +
                            " is not digits between dots: the wizard compares it as text with "
                            "only the dots removed",
                        "write the version as digits and dots, as in 2.1.0.4");
            continue;
        }
        if (reference == nullptr) {
            reference = &v;
            referenceWidths = parts.widths;
            continue;
        }
        if (parts.widths != referenceWidths) {
            ctx.warning(v.line,
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

}  // namespace upd::wizard::lint
