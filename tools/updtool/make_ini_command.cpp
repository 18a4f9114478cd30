#include "tools/updtool/make_ini_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>

#include "tools/updtool/exit_status.h"
#include "tools/updtool/file_io.h"
#include "wizard/update_ini_lint.h"
#include "wizard/update_ini_writer.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::kExitUsage;

constexpr const char* kMakeIniUsage =
    "usage: updtool make-ini RELEASE_DIR [-o FILE] [--ver V] [--time T]\n"
    "                        [--contents-en TEXT] [--contents-chs TEXT]\n"
    "                        [--update-ver V] [--move-ver V] [--force-up URL]\n"
    "  -o              write FILE (beside, then renamed) instead of standard output\n"
    "  --ver           the release's version (default: the highest of [Ver])\n"
    "  --time          the release's date as shown (default: today)\n"
    "  --contents-en   what is new, items separated by \",\"\n"
    "  --contents-chs  the same in Simplified Chinese\n"
    "  --update-ver    offer the new updater (update.exe) of this version: Update=1\n"
    "  --move-ver      FileMove.exe's version (default: that of RELEASE_DIR/FileMove.exe)\n"
    "  --force-up      offer the full package at this http:// URL: ForceUp=1\n";

int usageError(std::string_view message) {
    std::cerr << "updtool make-ini: " << message << "\n\n" << kMakeIniUsage;
    return kExitUsage;
}

void printLines(std::string_view prefix, std::string_view lines) {
    std::size_t start = 0;
    while (start <= lines.size()) {
        const std::size_t end = lines.find('\n', start);
        std::cerr << prefix << lines.substr(start, end - start) << '\n';
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string>* target = nullptr;
        std::string* text = nullptr;
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
        } else if (arg == "--contents-en") {
            text = &options.contentsEn;
        } else if (arg == "--contents-chs") {
            text = &options.contentsChs;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return usageError("unknown option " + arg);
        } else if (folder) {
            return usageError("only one RELEASE_DIR");
        } else {
            folder = arg;
            continue;
        }
        if (i + 1 >= args.size()) {
            return usageError(arg + " needs a value");
        }
        if (target != nullptr) {
            *target = args[++i];
        } else {
            *text = args[++i];
        }
    }
    if (!folder || folder->empty()) {
        return usageError("RELEASE_DIR is missing");
    }
    if ((options.updateVer && options.updateVer->empty()) || (output && output->empty())) {
        return usageError("an empty value");
    }
    options.releaseTime = time.value_or(today());

    const upd::wizard::ReleaseScan scan = upd::wizard::scanReleaseFolder(*folder);
    for (const std::string& note : scan.folder.leftOut) {
        std::cerr << "updtool make-ini: left out " << note << '\n';
    }
    if (!scan) {
        printLines("updtool make-ini: ", *scan.failure);
        return kExitFailure;
    }
    const upd::wizard::UpdateIniText ini = upd::wizard::makeUpdateIni(scan.folder, options);
    if (!ini) {
        printLines("updtool make-ini: ", *ini.failure);
        return kExitFailure;
    }
    for (const std::string& warning : ini.warnings) {
        std::cerr << "updtool make-ini: warning: " << warning << '\n';
    }
    // What lint would say of the result; the file is only written when the wizard can use it.
    const auto findings = upd::wizard::lintUpdateIni(ini.bytes);
    for (const auto& finding : findings) {
        std::cerr << "updtool make-ini: " << upd::wizard::formatFinding(finding) << '\n';
    }
    if (upd::wizard::hasErrors(findings)) {
        return kExitFailure;
    }
    if (output) {
        if (const std::string error = updtool::writeBeside(*output, ini.bytes, 0644);
            !error.empty()) {
            std::cerr << "updtool make-ini: " << error << '\n';
            return kExitFailure;
        }
        return kExitOk;
    }
    if (!writeStandardOutput(ini.bytes)) {
        std::cerr << "updtool make-ini: cannot write to standard output\n";
        return kExitFailure;
    }
    return kExitOk;
}
