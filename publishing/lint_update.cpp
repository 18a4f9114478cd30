#include "publishing/lint_checks.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/ascii_case.h"
#include "publishing/file_digest.h"
#include "wizard/announced_size.h"
#include "wizard/file_version.h"
#include "wizard/release_serial.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard::lint {
namespace {

// A 16-bit flag of [Update], read as the plan reads it.
std::optional<std::int16_t> flag(LintContext& ctx, const IniValue& flagValue,
                                 std::string_view key) {
    const FlagReading reading = readFlag(flagValue);
    const int line = lineOf(flagValue, ctx.ini().update.line);
    const std::string name(key);
    const std::string header = "[" + std::string(kUpdateSection) + "] ";
    if (reading.problem == FlagProblem::NotANumber) {
        ctx.error(line,
                  header + name + "=" + quoted(flagValue.text) +
                      " is not a number: the wizard's plan fails (type mismatch)",
                  "write " + name + "=0, or " + name + "=1 to " +
                      (key == kForceUpKey ? "offer the full package" : "replace the updater"));
    } else if (reading.problem == FlagProblem::OutOfRange) {
        ctx.error(line,
                  header + name + "=" + flagValue.text +
                      " is out of range: the wizard's plan fails (overflow)",
                  "write " + name + "=0 or 1");
    }
    return reading.value;
}

// The three files [Update] names, with their digest and size keys.
struct UpdateFile {
    const IniValue* digest;
    std::string_view digestKey;
    const IniValue* size;
    std::string_view sizeKey;
    std::string_view file;
};

std::array<UpdateFile, 3> updateFiles(const UpdateSection& u) {
    return {UpdateFile{&u.upSha256, kUpSha256Key, &u.upSize, kUpSizeKey, kPackageFileName},
            UpdateFile{&u.updateSha256, kUpdateSha256Key, &u.updateSize, kUpdateSizeKey,
                       kUpdaterFileName},
            UpdateFile{&u.moveSha256, kMoveSha256Key, &u.moveSize, kMoveSizeKey, kMoverFileName}};
}

// UpSha256, UpdateSha256 and MoveSha256 as written, and against the release's files.
void checkUpdateDigests(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    for (const UpdateFile& d : updateFiles(update)) {
        const std::string& digest = d.digest->text;
        const std::string key(d.digestKey);
        const std::string file(d.file);
        const int line = lineOf(*d.digest, update.line);
        if (!digest.empty() && !isSha256Hex(digest)) {
            ctx.error(line, key + " is not 64 lower-case hex digits: the wizard's plan fails",
                      "write the SHA-256 of " + file + " as sha256sum prints it");
            continue;
        }
        if (digest.empty() || !ctx.options().releaseFolder) {
            continue;
        }
        const std::string path = ctx.releaseFile(file);
        if (LintContext::isRegularFile(path)) {
            compareDigest(ctx, line, key, file, digest, path);
        } else if (d.file != kPackageFileName) {
            ctx.warning(line,
                        file + " is not in the release folder, so " + key + " was not checked",
                        "put " + file + " in the release folder");
        }
    }
}

// UpSize, UpdateSize and MoveSize as written, and against the release's files.
void checkUpdateSizes(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    for (const UpdateFile& s : updateFiles(update)) {
        const SizeReading reading = readAnnouncedSize(*s.size);
        const std::string key(s.sizeKey);
        const std::string file(s.file);
        const int line = lineOf(*s.size, update.line);
        if (reading.malformed) {
            ctx.error(line,
                      key + " " + malformedSizeText(s.size->text) + ": the wizard's plan fails",
                      "write the length in bytes of " + file + " (updtool make-ini writes it)");
        } else if (reading.size && ctx.options().releaseFolder) {
            // Only a file that is there is compared; its digest check names a missing one.
            compareSize(ctx, line, key, file, *reading.size, ctx.releaseFile(file));
        }
    }
}

// Serial: a malformed one is refused by every wizard with update.pub; a signed set must carry
// it and Expires.
void checkSerial(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    if (update.serial.present && !parseSerial(update.serial.text)) {
        ctx.error(update.serial.line,
                  "Serial=" + quoted(update.serial.text) +
                      " is not a whole number from 1 to 9223372036854775807: a wizard with "
                      "update.pub refuses the signed set",
                  "write a number higher than the last release's (updtool make-ini --serial)");
    }
    if (ctx.options().signedSet && (!update.serial.present || !update.expires.present)) {
        ctx.error(update.line,
                  std::string(update.serial.present ? "Expires" : "Serial") +
                      " is missing: a wizard with update.pub refuses the signed set",
                  "make the set with updtool make-ini, which writes Serial and Expires");
    }
}

// Expires: after that second (UTC) a wizard no longer takes the information, whatever its
// signature; a week's notice leaves time to publish a new one.
void checkExpires(LintContext& ctx) {
    constexpr std::int64_t kNoticeSeconds = 7 * 24 * 60 * 60;
    const IniValue& expires = ctx.ini().update.expires;
    if (!expires.present) {
        return;
    }
    const auto at = parseExpires(expires.text);
    if (!at) {
        ctx.error(expires.line,
                  "Expires=" + quoted(expires.text) +
                      " is not a UTC time as YYYY-MM-DD HH:MM:SS: a wizard with update.pub "
                      "refuses the signed set",
                  "write the UTC time after which the information must not be taken, as "
                  "2026-07-31 12:30:00");
        return;
    }
    const auto now = ctx.utcNow();
    if (!now) {
        return;
    }
    if (*now > *at) {
        ctx.error(expires.line,
                  "Expires=" + expires.text +
                      " has passed: a wizard with update.pub refuses the signed set",
                  "publish it again with a later Expires, and sign it again");
    } else if (*at - *now < kNoticeSeconds) {
        ctx.warning(expires.line,
                    "Expires=" + expires.text +
                        " is less than 7 days ahead: after it a wizard with update.pub "
                        "refuses the signed set",
                    "publish a release with a later Expires before then");
    }
}

// ForceUp=1: the full package's address and digest.
void checkFullPackage(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    const std::string& url = update.upUrl.text;
    const int line = lineOf(update.upUrl, update.line);
    const int forceUpLine = lineOf(update.forceUp, update.line);
    if (url.empty()) {
        ctx.error(forceUpLine,
                  "ForceUp=1 without UpURL: the wizard would fetch the full package from "
                  "no address",
                  "give the package's http:// or https:// address in UpURL, or set ForceUp=0");
    } else if (net::asciiLower(url.substr(0, 7)) != "http://" &&
               net::asciiLower(url.substr(0, 8)) != "https://") {
        ctx.error(line,
                  "UpURL=" + url +
                      " is not an http:// or https:// address: the wizard fetches only over "
                      "http and https",
                  "serve the package over http or https and give that address");
    }
    if (ctx.lacksDigest(kUpdateSection, std::string(kUpSha256Key))) {
        ctx.missingDigest(forceUpLine, "ForceUp=1 without UpSha256",
                          "the full package is not checked",
                          "add UpSha256, the package's SHA-256 (updtool make-ini writes it)");
    }
}

void checkUpdaterVersion(LintContext& ctx, const IniValue& version, std::string_view key,
                         std::string_view file, bool required) {
    const std::string& announced = version.text;
    const int line =
        version.present ? version.line : lineOf(ctx.ini().update.update, ctx.ini().update.line);
    if (announced.empty()) {
        if (required) {
            ctx.error(
                line,
                "Update=1 with an empty " + std::string(key) +
                    ": no version is older than an empty one, so the updater is never "
                    "replaced",
                "give the new updater's version in " + std::string(key) + ", or set Update=0");
        }
        return;
    }
    ctx.versions().push_back({line, std::string(key), announced});
    const std::string path = ctx.options().releaseFolder ? ctx.releaseFile(file) : std::string();
    if (path.empty() || !LintContext::isRegularFile(path)) {
        return;
    }
    const std::string releaseKey = GetFileVersionText(path, "ProductVersion");
    if (isOlderVersion(releaseKey, RemoveChar(announced, "."))) {
        ctx.add(required ? LintSeverity::Error : LintSeverity::Warning, line,
                std::string(key) + "=" + announced + " is newer than the release's " +
                    std::string(file) + " (version key " + releaseKey +
                    "): once installed it still looks out of "
                    "date, and is fetched again",
                "announce the version " + std::string(file) + " carries");
    }
}

// Update=1: the new updater's version and digest, and FileMove.exe's.
void checkNewUpdater(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    checkUpdaterVersion(ctx, update.updateVer, kUpdateVerKey, kUpdaterFileName, true);
    if (ctx.lacksDigest(kUpdateSection, std::string(kUpdateSha256Key))) {
        ctx.missingDigest(lineOf(update.update, update.line), "Update=1 without UpdateSha256",
                          "the new updater is not checked",
                          "add UpdateSha256, the SHA-256 of update.exe (updtool make-ini "
                          "writes it)");
    }
    checkUpdaterVersion(ctx, update.moveVer, kMoveVerKey, kMoverFileName, false);
    // Only a MoveVer with more than dots in it ever fetches FileMove.exe.
    if (ctx.lacksDigest(kUpdateSection, std::string(kMoveSha256Key))) {
        ctx.missingDigest(lineOf(update.moveVer, update.line),
                          "Update=1 and MoveVer without MoveSha256",
                          "the new FileMove.exe is not checked",
                          "add MoveSha256, the SHA-256 of FileMove.exe (updtool make-ini "
                          "writes it)");
    }
}

}  // namespace

void checkUpdate(LintContext& ctx) {
    const UpdateSection& update = ctx.ini().update;
    checkUpdateDigests(ctx);
    checkUpdateSizes(ctx);
    checkSerial(ctx);
    checkExpires(ctx);
    // Both flags are judged before either is acted on.
    const auto forceUp = flag(ctx, update.forceUp, kForceUpKey);
    const auto updateFlag = flag(ctx, update.update, kUpdateKey);
    if (forceUp && *forceUp == 1) {
        checkFullPackage(ctx);
    }
    if (updateFlag && *updateFlag == 1) {
        checkNewUpdater(ctx);
    }
}

void checkDigestCoverage(LintContext& ctx) {
    const std::vector<Entry>& entries = ctx.entries();
    const auto digested =
        std::count_if(entries.begin(), entries.end(), [](const Entry& e) { return e.hasDigest; });
    if (entries.empty() || digested == static_cast<std::ptrdiff_t>(entries.size())) {
        return;
    }
    // None at all is one mistake, reported once.
    if (digested == 0) {
        ctx.missingDigest(0, "no file has a Sha256<n>", "the wizard installs downloads unchecked",
                          "add the digests (updtool make-ini writes them)");
        return;
    }
    for (const Entry& e : entries) {
        if (!e.hasDigest) {
            ctx.missingDigest(e.line, e.name + " has no Sha256 digest",
                              "its download is not checked",
                              "add its digest (updtool make-ini writes them)");
        }
    }
}

}  // namespace upd::wizard::lint
