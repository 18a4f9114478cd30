#include "publishing/update_ini_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>

#include "controls/list_model.h"
#include "net/ascii_case.h"
#include "platform/code_page.h"
#include "platform/language.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "platform/version_resource.h"
#include "publishing/file_digest.h"
#include "wizard/announced_date.h"
#include "wizard/file_version.h"
#include "wizard/profile_file.h"
#include "wizard/release_serial.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

namespace fs = std::filesystem;

// Text that is not of one language is taken as an English system reads it.
constexpr platform::CodePage kEnglishCodePage = 1252;
constexpr std::string_view kLineEnd = "\r\n";

struct Description {
    std::string_view extension;
    std::string_view english;
    std::string_view chinese;  // UTF-8 here, code page 936 in the file
};

// clang-format off
constexpr Description kDescriptions[] = {
    {"EXE", "Program", "程序"},          {"DLL", "Library", "程序库"},
    {"SO", "Library", "程序库"},         {"OCX", "Control", "控件"},
    {"SYS", "Driver", "驱动程序"},       {"DAT", "Data file", "数据文件"},
    {"XML", "Data file", "数据文件"},    {"JSON", "Data file", "数据文件"},
    {"INI", "Settings", "配置文件"},     {"CFG", "Settings", "配置文件"},
    {"DB", "Database", "数据库"},        {"MDB", "Database", "数据库"},
    {"TXT", "Text", "文本文件"},         {"PDF", "Document", "文档"},
    {"HLP", "Help", "帮助文件"},         {"CHM", "Help", "帮助文件"},
    {"HTM", "Web page", "网页"},         {"HTML", "Web page", "网页"},
    {"BMP", "Image", "图像"},            {"JPG", "Image", "图像"},
    {"PNG", "Image", "图像"},            {"GIF", "Image", "图像"},
    {"ICO", "Icon", "图标"},             {"WAV", "Sound", "声音"},
    {"MP3", "Sound", "声音"},            {"TTF", "Font", "字体"},
    {"ZIP", "Archive", "压缩包"},        {"QM", "Translation", "翻译文件"},
    {"LNG", "Language file", "语言文件"},
};
// clang-format on

constexpr Description kNoExtension = {"", "File", "文件"};

// One reason per line: a name with a line break or an ESC in a reason stays on its line and
// out of the terminal.
std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += (text.empty() ? "" : "\n") + platform::printableText(line);
    }
    return text;
}

// Why a folder or file name cannot stand in update.ini, or "" when it can.
std::string nameProblem(std::string_view component) {
    for (const char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            // update.ini is read in the system code page: 1252 and 936 would name different files.
            return "not ASCII, so English and Chinese systems would read different names";
        }
        if (byte < 0x20 || byte == 0x7F) {
            return "holds a control character";
        }
        if (c == '\\') {
            return "holds a backslash, which update.ini reads as a folder separator";
        }
        if (c == ':') {
            return "holds a ':', which the wizard refuses in a file name";
        }
    }
    return {};
}

class Lister {
  public:
    explicit Lister(ReleaseListing& out) : m_out(out) {}

    void walk(const fs::path& folder, const std::string& prefix) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error) {
            m_out.refused.push_back(
                platform::printableText(prefix.empty() ? folder.string() : prefix) +
                ": cannot read the folder: " + error.message());
            return;
        }
        for (; it != fs::directory_iterator(); it.increment(error)) {
            visit(it->path(), prefix);
        }
        if (error) {
            m_out.refused.push_back(platform::printableText(folder.string()) +
                                    ": cannot read the folder: " + error.message());
        }
    }

  private:
    void visit(const fs::path& path, const std::string& prefix) {
        const std::string leaf = path.filename().string();
        const std::string name = prefix.empty() ? leaf : prefix + "\\" + leaf;
        const bool top = prefix.empty();
        // A name may hold any byte but '/' and NUL; the messages must not carry its ESCs.
        const std::string shown = platform::printableText(name);
        if (leaf.starts_with('.')) {
            m_out.leftOut.push_back(shown + ": hidden");
            return;
        }
        std::error_code error;
        const fs::file_status link = fs::symlink_status(path, error);
        const fs::file_status target = fs::status(path, error);
        if (error) {
            m_out.refused.push_back(shown + ": " + error.message());
            return;
        }
        if (const std::string why = nameProblem(leaf); !why.empty()) {
            m_out.refused.push_back(shown + ": " + why);
            return;
        }
        if (fs::is_directory(target)) {
            if (fs::is_symlink(link)) {
                m_out.leftOut.push_back(shown + ": a link to a folder");
                return;
            }
            walk(path, name);
            return;
        }
        if (!fs::is_regular_file(target)) {
            m_out.leftOut.push_back(shown + ": not a regular file");
            return;
        }
        if (top && (leaf == "update.ini" || leaf == "update.ini.sig")) {
            return;  // what make-ini and sign write
        }
        if (leaf.ends_with(".sig")) {
            m_out.leftOut.push_back(shown + ": a signature file");
            return;
        }
        // make-ini's own outputs: announced as forms of their files, never as files.
        if (leaf.ends_with(kZstSuffix) || leaf.ends_with(kPatchSuffix)) {
            m_out.leftOut.push_back(shown + ": a compressed file or a patch");
            return;
        }
        ReleaseEntry entry{name, path.string()};
        if (top && leaf == kUpdaterFileName) {
            m_out.updater = entry;
        } else if (top && leaf == kMoverFileName) {
            m_out.mover = entry;
        } else if (top && leaf == kPackageFileName) {
            m_out.package = entry;
        } else if (name.size() > kMaxIniValueBytes) {
            m_out.refused.push_back(shown + ": longer than the 254 bytes the wizard reads");
        } else {
            m_out.files.push_back(std::move(entry));
        }
    }

    ReleaseListing& m_out;
};

// The ProductVersion text as the block holds it, dots kept: the same search as
// versionKeyFromBlock (entry name without regard to ASCII case, value between NULs).
std::optional<std::string> productVersionText(const std::string& path) {
    const auto block = platform::readVersionBlock(path);
    if (!block) {
        return std::nullopt;
    }
    std::u16string units;
    for (std::size_t i = 0; i + 1 < block->size(); i += 2) {
        units += static_cast<char16_t>((*block)[i] | ((*block)[i + 1] << 8));
    }
    const std::u16string_view wanted = u"productversion";
    const auto fold = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    const auto found = std::search(units.begin(), units.end(), wanted.begin(), wanted.end(),
                                   [&](char16_t a, char16_t b) { return fold(a) == b; });
    if (found == units.end()) {
        return std::nullopt;
    }
    std::size_t start = units.find(u'\0', static_cast<std::size_t>(found - units.begin()));
    if (start == std::u16string::npos) {
        return std::nullopt;
    }
    ++start;
    std::size_t end = units.find(u'\0', start);
    if (end == start) {
        ++start;
        end = units.find(u'\0', start);
    }
    if (end == std::u16string::npos) {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = start; i < end; ++i) {
        text += units[i] < 0x80 ? std::string(1, static_cast<char>(units[i]))
                                : platform::codeUnitThroughCodePage(units[i], kEnglishCodePage);
    }
    return text;
}

// The version for Ver<n>, or "" for a file the wizard sees without one (key "0"): such a file
// goes under [Time], since an announced "0" would never be newer than the file's own "0".
std::string versionForEntry(const std::string& path) {
    const std::string key = GetFileVersionText(path, "ProductVersion");
    if (key.empty() || key == "0") {
        return {};
    }
    // The announced text must give the file's own key once its dots are removed.
    const auto text = productVersionText(path);
    return text && RemoveChar(*text, ".") == key ? *text : key;
}

// Numeric part by part: "2.10" above "2.9"; a part that is no number compares as text.
bool versionBelow(std::string_view a, std::string_view b) {
    const auto parts = [](std::string_view v) {
        std::vector<std::string_view> out;
        std::size_t start = 0;
        for (;;) {
            const std::size_t dot = v.find('.', start);
            out.push_back(v.substr(start, dot == std::string_view::npos ? dot : dot - start));
            if (dot == std::string_view::npos) {
                return out;
            }
            start = dot + 1;
        }
    };
    const auto pa = parts(a);
    const auto pb = parts(b);
    for (std::size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const std::string_view x = i < pa.size() ? pa[i] : "0";
        const std::string_view y = i < pb.size() ? pb[i] : "0";
        std::uint64_t nx = 0;
        std::uint64_t ny = 0;
        const bool numbers =
            std::from_chars(x.data(), x.data() + x.size(), nx).ptr == x.data() + x.size() &&
            std::from_chars(y.data(), y.data() + y.size(), ny).ptr == y.data() + y.size();
        if (numbers ? nx != ny : x != y) {
            return numbers ? nx < ny : x < y;
        }
    }
    return false;
}

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian calendar).
void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

class Writer {
  public:
    void section(std::string_view name) {
        m_bytes += '[';
        m_bytes += name;
        m_bytes += ']';
        m_bytes += kLineEnd;
    }

    // `utf8` in code page `cp`; a failure is noted, naming `what`.
    void key(std::string_view name, std::string_view utf8, platform::CodePage cp,
             std::string_view what) {
        m_bytes += name;
        m_bytes += '=';
        m_bytes += encode(utf8, cp, what);
        m_bytes += kLineEnd;
    }
    void key(std::string_view name, std::string_view utf8) {
        key(name, utf8, kEnglishCodePage, name);
    }

    std::vector<std::string>& failures() { return m_failures; }
    const std::string& bytes() const { return m_bytes; }

  private:
    std::string encode(std::string_view utf8, platform::CodePage cp, std::string_view what) {
        if (utf8.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
            m_failures.push_back(std::string(what) + " holds a line break");
            return {};
        }
        std::string bytes = platform::toAnsi(utf8, cp);
        if (platform::fromAnsi(bytes, cp) != utf8) {
            m_failures.push_back(std::string(what) + " holds characters that code page " +
                                 std::to_string(cp) + " cannot hold");
        }
        if (bytes.size() > kMaxIniValueBytes) {
            m_failures.push_back(std::string(what) + " is " + std::to_string(bytes.size()) +
                                 " bytes in code page " + std::to_string(cp) +
                                 "; the wizard reads only the first 254");
        }
        // The reader drops blanks (its own isBlank) around a value and one pair of quotes
        // around all of it: quotes keep " a" and "'a'" as they are.
        const bool quote = !bytes.empty() &&
                           (isBlank(bytes.front()) || isBlank(bytes.back()) ||
                            (bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') &&
                             bytes.back() == bytes.front()));
        return quote ? '"' + bytes + '"' : bytes;
    }

    std::string m_bytes;
    std::vector<std::string> m_failures;
};

// A [Descript] key must read back as itself: no '=', no ';' or '[' first, no blanks around.
bool usableKey(std::string_view key) {
    return !key.empty() && key.find('=') == std::string_view::npos && key.front() != ';' &&
           key.front() != '[' && !isBlank(key.front()) && !isBlank(key.back());
}

// [Ver] (valuePrefix kVersionPrefix) or [Time] (kDatePrefix).
void writeEntries(Writer& out, std::string_view sectionName, std::string_view valuePrefix,
                  const std::vector<ReleaseFile>& files) {
    out.section(sectionName);
    out.key(kNumKey, std::to_string(files.size()));
    // The wizard keeps its entries in a keyed list, which refuses names that read as numbers.
    controls::ListModel list;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ReleaseFile& file = files[i];
        const auto n = static_cast<std::int64_t>(i + 1);
        if (list.addRow(file.name) != controls::ListError::None ||
            !platform::hostPathUnder("/", file.name)) {
            out.failures().push_back(file.name +
                                     ": the wizard cannot take this name (it reads "
                                     "as a number or leaves its folder)");
        }
        out.key(fileKey(n), file.name, kEnglishCodePage, file.name);
        out.key(numberedKey(valuePrefix, n),
                valuePrefix == kVersionPrefix ? file.version : announcedDateText(file.writeTime));
        out.key(sha256Key(n), file.sha256);
        out.key(sizeKey(n), std::to_string(file.size));
        if (file.zst) {
            out.key(numberedKey(kZstSha256Prefix, n), file.zst->sha256);
            out.key(numberedKey(kZstSizePrefix, n), std::to_string(file.zst->size));
        }
        for (std::size_t k = 1; k <= file.patches.size(); ++k) {
            const ServedPatch& patch = file.patches[k - 1];
            out.key(patchKey(kPatchBasePrefix, n, static_cast<int>(k)), patch.baseSha256);
            out.key(patchKey(kPatchSha256Prefix, n, static_cast<int>(k)), patch.form.sha256);
            out.key(patchKey(kPatchSizePrefix, n, static_cast<int>(k)),
                    std::to_string(patch.form.size));
        }
    }
}

}  // namespace

std::string announcedDateText(std::int64_t calendarSeconds) {
    const std::int64_t days =
        (calendarSeconds >= 0 ? calendarSeconds : calendarSeconds - 86399) / 86400;
    const std::int64_t seconds = calendarSeconds - days * 86400;
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    civilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d",
                  static_cast<long long>(year), month, day, static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

ReleaseListing listReleaseFiles(const std::string& folder) {
    ReleaseListing listing;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        listing.refused.push_back(platform::printableText(folder) + ": not a folder");
        return listing;
    }
    Lister(listing).walk(folder, "");
    std::sort(listing.files.begin(), listing.files.end(),
              [](const ReleaseEntry& a, const ReleaseEntry& b) { return a.name < b.name; });
    std::sort(listing.leftOut.begin(), listing.leftOut.end());
    return listing;
}

std::optional<ReleaseFile> readReleaseFile(const ReleaseEntry& entry, bool byVersion,
                                           std::string& failure) {
    ReleaseFile file{entry.name, {}, 0, {}};
    file.path = entry.path;
    std::string error;
    const auto digest = sha256FileHex(entry.path, &error);
    if (!digest) {
        failure = platform::printableText(entry.name) + ": cannot read: " + error;
        return std::nullopt;
    }
    file.sha256 = *digest;
    std::error_code sizeError;
    const std::uintmax_t size = fs::file_size(entry.path, sizeError);
    if (sizeError) {
        failure = platform::printableText(entry.name) + ": cannot read: " + sizeError.message();
        return std::nullopt;
    }
    file.size = static_cast<std::int64_t>(size);
    file.version = byVersion ? versionForEntry(entry.path) : std::string();
    if (file.version.empty()) {
        const auto time = localStandardWriteTime(entry.path);
        if (!time || !parseAnnouncedDate(announcedDateText(*time))) {
            failure =
                platform::printableText(entry.name) + ": its last-write time cannot be announced";
            return std::nullopt;
        }
        file.writeTime = *time;
    }
    return file;
}

ReleaseScan scanReleaseFolder(const std::string& folder) {
    const ReleaseListing listing = listReleaseFiles(folder);
    ReleaseScan scan;
    std::vector<std::string> failures = listing.refused;
    scan.folder.leftOut = listing.leftOut;
    const auto read = [&](const ReleaseEntry& entry, bool byVersion) {
        std::string failure;
        auto file = readReleaseFile(entry, byVersion, failure);
        if (!file) {
            failures.push_back(std::move(failure));
        }
        return file;
    };
    for (const ReleaseEntry& entry : listing.files) {
        if (auto file = read(entry, true)) {
            (file->version.empty() ? scan.folder.byDate : scan.folder.byVersion)
                .push_back(std::move(*file));
        }
    }
    if (listing.updater) {
        scan.folder.updater = read(*listing.updater, true);
    }
    if (listing.mover) {
        scan.folder.mover = read(*listing.mover, true);
    }
    if (listing.package) {
        scan.folder.package = read(*listing.package, false);
    }
    if (!failures.empty()) {
        scan.failure = joinLines(failures);
    }
    return scan;
}

UpdateIniText makeUpdateIni(const ReleaseFolder& folder, const UpdateIniOptions& options) {
    UpdateIniText result;
    Writer out;
    std::string version;
    if (options.version) {
        version = *options.version;
    } else {
        for (const ReleaseFile& file : folder.byVersion) {
            if (version.empty() || versionBelow(version, file.version)) {
                version = file.version;
            }
        }
        if (version.empty()) {
            out.failures().push_back(
                "no file of the release has a version: give the release's version with --ver");
        }
    }
    const bool forceUp = options.forceUpUrl.has_value();
    const std::string scheme = net::asciiUpper(options.forceUpUrl.value_or("").substr(0, 8));
    if (forceUp && !scheme.starts_with("HTTP://") && scheme != "HTTPS://") {
        out.failures().push_back("--force-up " + *options.forceUpUrl +
                                 ": the wizard downloads with http:// and https:// only");
    }
    // What is offered must be digested: a wizard with update.pub refuses a signed set that
    // lacks the digest of any file it may fetch.
    const struct {
        bool offered;
        bool atHand;
        const char* option;
        std::string_view file;
        const char* given;
    } offers[] = {
        {options.updateVer.has_value(), folder.updater.has_value(), "--update-ver",
         kUpdaterFileName, "--update-exe"},
        {options.moveVer.has_value(), folder.mover.has_value(), "--move-ver", kMoverFileName,
         "--move-exe"},
        {forceUp, folder.package.has_value(), "--force-up", kPackageFileName, "--package"},
    };
    for (const auto& offer : offers) {
        if (offer.offered && !offer.atHand) {
            out.failures().push_back(std::string(offer.option) + " needs " +
                                     std::string(offer.file) + " in RELEASE_DIR or " + offer.given +
                                     " FILE");
        }
    }
    const std::string moveVer =
        options.moveVer.value_or(folder.mover ? folder.mover->version : std::string());

    // The language-dependent keys as the wizard looks them up, "<key><tag>", each in the code
    // page of the systems that read it.
    const platform::LanguageProfile english = platform::languageProfile(platform::kLangEnglishUS);
    const platform::LanguageProfile chinese =
        platform::languageProfile(platform::kLangChineseSimplified);

    out.section(kUpdateSection);
    out.key(kReleaseVersionKey, version);
    out.key(kReleaseTimeKey, options.releaseTime);
    if (options.serial) {
        out.key(kSerialKey, std::to_string(*options.serial));
    }
    if (options.expires) {
        out.key(kExpiresKey, expiresText(*options.expires));
    }
    out.key(contentsKey(english.tag), options.contentsEn, english.codePage, "--contents-en");
    out.key(contentsKey(chinese.tag), options.contentsChs, chinese.codePage, "--contents-chs");
    out.key(kForceUpKey, forceUp ? "1" : "0");
    out.key(kUpUrlKey, options.forceUpUrl.value_or(""), kEnglishCodePage, "--force-up");
    out.key(kUpdateKey, options.updateVer ? "1" : "0");
    out.key(kUpdateVerKey, options.updateVer.value_or(""), kEnglishCodePage, "--update-ver");
    out.key(kMoveVerKey, moveVer, kEnglishCodePage, "--move-ver");
    if (folder.package) {
        out.key(kUpSha256Key, folder.package->sha256);
        out.key(kUpSizeKey, std::to_string(folder.package->size));
    }
    if (folder.updater) {
        out.key(kUpdateSha256Key, folder.updater->sha256);
        out.key(kUpdateSizeKey, std::to_string(folder.updater->size));
        if (folder.updater->zst) {
            out.key(kUpdateZstSha256Key, folder.updater->zst->sha256);
            out.key(kUpdateZstSizeKey, std::to_string(folder.updater->zst->size));
        }
    }
    if (folder.mover) {
        out.key(kMoveSha256Key, folder.mover->sha256);
        out.key(kMoveSizeKey, std::to_string(folder.mover->size));
        if (folder.mover->zst) {
            out.key(kMoveZstSha256Key, folder.mover->zst->sha256);
            out.key(kMoveZstSizeKey, std::to_string(folder.mover->zst->size));
        }
    }
    writeEntries(out, kVerSection, kVersionPrefix, folder.byVersion);
    writeEntries(out, kTimeSection, kDatePrefix, folder.byDate);

    // One pair per extension, looked up as the wizard does: GetExtension, upper case. A name
    // without a dot in its last part ("README", "data.d\\file") is its own "extension".
    std::map<std::string, bool> extensions;  // key -> some file of it has no real extension
    for (const auto* files : {&folder.byVersion, &folder.byDate}) {
        for (const ReleaseFile& file : *files) {
            const std::size_t leaf = file.name.rfind('\\');
            const bool none =
                file.name.find('.', leaf == std::string::npos ? 0 : leaf) == std::string::npos;
            extensions[net::asciiUpper(GetExtension(file.name))] |= none;
        }
    }
    out.section(kDescriptSection);
    for (const auto& [extension, none] : extensions) {
        if (!usableKey(extension)) {
            continue;  // the wizard shows "unknown type" for it
        }
        Description description =
            none ? kNoExtension : Description{extension, extension, extension};
        for (const Description& known : kDescriptions) {
            if (known.extension == extension) {
                description = known;
            }
        }
        const std::string chineseKey = descriptionKey(extension, chinese.tag);
        out.key(descriptionKey(extension), description.english);
        out.key(chineseKey, description.chinese, chinese.codePage, chineseKey);
    }

    if (!out.failures().empty()) {
        result.failure = joinLines(out.failures());
        return result;
    }
    result.bytes = out.bytes();
    return result;
}

}  // namespace upd::wizard
