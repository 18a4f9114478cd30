#include "tools/updtool/make_ini_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>

#include "platform/printable_text.h"
#include "publishing/release_forms.h"
#include "publishing/update_ini_lint.h"
#include "publishing/update_ini_writer.h"
#include "tools/updtool/exit_status.h"
#include "tools/updtool/file_io.h"
#include "tools/updtool/usage_error.h"
#include "wizard/release_serial.h"
#include "wizard/update_ini_schema.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

constexpr const char* kMakeIniUsage =
    "usage: updtool make-ini RELEASE_DIR [-o FILE] [--ver V] [--time T]\n"
    "                        [--contents-en TEXT] [--contents-chs TEXT]\n"
    "                        [--update-ver V] [--move-ver V] [--force-up URL]\n"
    "                        [--update-exe FILE] [--move-exe FILE] [--package FILE]\n"
    "                        [--serial N] [--expires DAYS]\n"
    "                        [--compress] [--base OLD_DIR ...]\n"
    "  -o              write FILE (beside, then renamed) instead of standard output\n"
    "  --ver           the release's version (default: the highest of [Ver])\n"
    "  --time          the release's date as shown (default: today)\n"
    "  --contents-en   what is new, items separated by \",\"\n"
    "  --contents-chs  the same in Simplified Chinese\n"
    "  --update-ver    offer the new updater (update.exe) of this version: Update=1\n"
    "  --move-ver      FileMove.exe's version (default: that of RELEASE_DIR/FileMove.exe)\n"
    "  --force-up      offer the full package at this http:// or https:// URL: ForceUp=1\n"
    "  --update-exe    digest this file as update.exe (default: RELEASE_DIR/update.exe)\n"
    "  --move-exe      digest this file as FileMove.exe (default: RELEASE_DIR/FileMove.exe)\n"
    "  --package       digest this file as the full package (default: RELEASE_DIR/Setup.zip)\n"
    "  --serial        Serial, raised with every release (default: the UTC time as YYYYMMDDHHMM)\n"
    "  --expires       Expires this many days from now, 1 to 36500 (default: 30)\n"
    "  --compress      also offer each file as FILE.zst beside it, when that saves a tenth\n"
    "  --base          also offer each file that differs from OLD_DIR's as a patch against\n"
    "                  it, when that saves a tenth (up to 5 earlier releases)\n"
    "Every file offered is digested: --update-ver, --move-ver and --force-up fail without it.\n";

// Every message goes out through here: names come from the release folder, and one holding an
// ESC must not drive the terminal.
void note(std::string_view text) {
    std::cerr << "updtool make-ini: " << upd::platform::printableText(text) << '\n';
}

void printLines(std::string_view lines) {
    std::size_t start = 0;
    while (start <= lines.size()) {
        const std::size_t end = lines.find('\n', start);
        note(lines.substr(start, end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// The default Serial: now in UTC as YYYYMMDDHHMM, so that releases made later count higher.
std::int64_t serialOfNow(std::time_t now) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    const std::int64_t date = (utc.tm_year + 1900) * 10000 + (utc.tm_mon + 1) * 100 + utc.tm_mday;
    return date * 10000 + utc.tm_hour * 100 + utc.tm_min;
}

bool writeStandardOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

int runMakeIni(const std::vector<std::string>& args) {
    upd::wizard::UpdateIniOptions options;
    std::optional<std::string> folder;
    std::optional<std::string> output;
    std::optional<std::string> time;
    std::optional<std::string> updaterFile;
    std::optional<std::string> moverFile;
    std::optional<std::string> packageFile;
    std::optional<std::string> serial;
    std::optional<std::string> expiresDays;
    upd::wizard::FormOptions forms;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string>* target = nullptr;
        std::string* text = nullptr;
        if (arg == "--compress") {
            forms.compress = true;
            continue;
        }
        if (arg == "--base") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return usageError("make-ini", "--base needs a folder", kMakeIniUsage);
            }
            forms.baseFolders.push_back(args[++i]);
            continue;
        }
        if (arg == "-o") {
            target = &output;
        } else if (arg == "--ver") {
            target = &options.version;
        } else if (arg == "--time") {
            target = &time;
        } else if (arg == "--update-ver") {
            target = &options.updateVer;
        } else if (arg == "--move-ver") {
            target = &options.moveVer;
        } else if (arg == "--force-up") {
            target = &options.forceUpUrl;
        } else if (arg == "--update-exe") {
            target = &updaterFile;
        } else if (arg == "--move-exe") {
            target = &moverFile;
        } else if (arg == "--package") {
            target = &packageFile;
        } else if (arg == "--serial") {
            target = &serial;
        } else if (arg == "--expires") {
            target = &expiresDays;
        } else if (arg == "--contents-en") {
            text = &options.contentsEn;
        } else if (arg == "--contents-chs") {
            text = &options.contentsChs;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return usageError("make-ini", "unknown option " + arg, kMakeIniUsage);
        } else if (folder) {
            return usageError("make-ini", "only one RELEASE_DIR", kMakeIniUsage);
        } else {
            folder = arg;
            continue;
        }
        if (i + 1 >= args.size()) {
            return usageError("make-ini", arg + " needs a value", kMakeIniUsage);
        }
        if (target != nullptr) {
            *target = args[++i];
        } else {
            *text = args[++i];
        }
    }
    if (!folder || folder->empty()) {
        return usageError("make-ini", "RELEASE_DIR is missing", kMakeIniUsage);
    }
    if (forms.baseFolders.size() > static_cast<std::size_t>(upd::wizard::kMaxPatches)) {
        return usageError("make-ini", "at most 5 --base folders", kMakeIniUsage);
    }
    for (const auto* value :
         {&options.updateVer, &output, &updaterFile, &moverFile, &packageFile}) {
        if (*value && (*value)->empty()) {
            return usageError("make-ini", "an empty value", kMakeIniUsage);
        }
    }
    options.releaseTime = time.value_or(today());
    const std::time_t now = std::time(nullptr);
    options.serial = serial ? upd::wizard::parseSerial(*serial) : serialOfNow(now);
    if (!options.serial) {
        return usageError("make-ini", "--serial takes a whole number from 1", kMakeIniUsage);
    }
    // Days, not a date: a release is signed for a while from when it is made.
    constexpr std::int64_t kMaxExpiryDays = 36500;
    const auto days = upd::wizard::parseSerial(expiresDays.value_or("30"));
    if (!days || *days > kMaxExpiryDays) {
        return usageError("make-ini", "--expires takes a number of days from 1 to 36500",
                          kMakeIniUsage);
    }
    options.expires = static_cast<std::int64_t>(now) + *days * 86400;

    upd::wizard::ReleaseScan scan = upd::wizard::scanReleaseFolder(*folder);
    for (const std::string& leftOut : scan.folder.leftOut) {
        note("left out " + leftOut);
    }
    // A file given outside the folder stands in for the folder's own; its name in update.ini
    // is fixed, so only its digest and version are taken.
    bool unreadable = false;
    const struct {
        const std::optional<std::string>& path;
        const char* option;
        std::string_view name;
        bool byVersion;
        std::optional<upd::wizard::ReleaseFile>& slot;
    } given[] = {
        {updaterFile, "--update-exe", upd::wizard::kUpdaterFileName, true, scan.folder.updater},
        {moverFile, "--move-exe", upd::wizard::kMoverFileName, true, scan.folder.mover},
        {packageFile, "--package", upd::wizard::kPackageFileName, false, scan.folder.package},
    };
    for (const auto& g : given) {
        if (!g.path) {
            continue;
        }
        std::string failure;
        g.slot = upd::wizard::readReleaseFile({std::string(g.option) + " " + *g.path, *g.path},
                                              g.byVersion, failure);
        if (g.slot) {
            g.slot->name = std::string(g.name);
        } else {
            note(failure);
            unreadable = true;
        }
    }
    if (!scan) {
        printLines(*scan.failure);
    }
    if (!scan || unreadable) {
        return kExitFailure;
    }
    if (forms.compress || !forms.baseFolders.empty()) {
        forms.compressUpdater = options.updateVer.has_value();
        const upd::wizard::FormsMade made =
            upd::wizard::makeReleaseForms(*folder, scan.folder, forms);
        for (const std::string& formNote : made.notes) {
            note(formNote);
        }
        if (!made) {
            printLines(*made.failure);
            return kExitFailure;
        }
    }
    const upd::wizard::UpdateIniText ini = upd::wizard::makeUpdateIni(scan.folder, options);
    if (!ini) {
        printLines(*ini.failure);
        return kExitFailure;
    }
    // What lint would say of the result, judged as a signed set, since make-ini digests every
    // file it offers; the file is only written when the wizard can use it.
    upd::wizard::LintOptions lintOptions;
    lintOptions.signedSet = true;
    const auto findings = upd::wizard::lintUpdateIni(ini.bytes, lintOptions);
    for (const auto& finding : findings) {
        note(upd::wizard::formatFinding(finding));
    }
    if (upd::wizard::hasErrors(findings)) {
        return kExitFailure;
    }
    if (output) {
        if (const std::string error = updtool::writeBeside(*output, ini.bytes, 0644);
            !error.empty()) {
            note(error);
            return kExitFailure;
        }
        return kExitOk;
    }
    if (!writeStandardOutput(ini.bytes)) {
        note("cannot write to standard output");
        return kExitFailure;
    }
    return kExitOk;
}
