#include "tools/updtool/lint_command.h"

#include <sys/stat.h>

#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>

#include "platform/printable_text.h"
#include "publishing/update_ini_lint.h"
#include "tools/updtool/exit_status.h"
#include "tools/updtool/file_io.h"
#include "tools/updtool/usage_error.h"
#include "wizard/profile_file.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

constexpr const char* kLintUsage =
    "usage: updtool lint UPDATE_INI [--release RELEASE_DIR [--base OLD_DIR ...]] [--signed]\n"
    "  --release  compare with the files as they will be served, and rebuild each compressed\n"
    "             file and patch there to check that it gives the announced file\n"
    "  --base     an earlier release, as installed: a patch against one of its files is\n"
    "             rebuilt from it (repeatable; a patch whose base is not given is a warning)\n"
    "  --signed   judge it as a signed set (implied by UPDATE_INI.sig beside it): a file the\n"
    "             wizard may download without its digest is an error, not a warning\n";

// Anything at UPDATE_INI.sig makes the set a signed one: a wizard with update.pub fetches it.
bool signatureBeside(const std::string& file) {
    struct stat info {};
    return ::lstat((file + ".sig").c_str(), &info) == 0;
}

// Now as the wizard reads a file's time: local standard time, daylight saving left out.
std::int64_t localStandardNow() {
    tzset();
    return static_cast<std::int64_t>(std::time(nullptr)) - static_cast<std::int64_t>(timezone);
}

}  // namespace

int runLint(const std::vector<std::string>& args) {
    upd::wizard::LintOptions options;
    std::optional<std::string> file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--release") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return usageError("lint", "--release needs a folder", kLintUsage);
            }
            options.releaseFolder = args[++i];
        } else if (args[i] == "--base") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return usageError("lint", "--base needs a folder", kLintUsage);
            }
            options.baseFolders.push_back(args[++i]);
        } else if (args[i] == "--signed") {
            options.signedSet = true;
        } else if (args[i].starts_with("-") && args[i].size() > 1) {
            return usageError("lint", "unknown option " + args[i], kLintUsage);
        } else if (file) {
            return usageError("lint", "only one UPDATE_INI", kLintUsage);
        } else {
            file = args[i];
        }
    }
    if (!file || file->empty()) {
        return usageError("lint", "UPDATE_INI is missing", kLintUsage);
    }
    if (!options.baseFolders.empty() && !options.releaseFolder) {
        return usageError("lint", "--base needs --release", kLintUsage);
    }
    const updtool::ReadResult ini =
        updtool::readWholeFile(*file, upd::wizard::kMaxProfileFileBytes);
    if (!ini.bytes && !ini.tooLarge) {
        std::cerr << "updtool lint: " << upd::platform::printableText(ini.error) << '\n';
        return kExitFailure;
    }
    options.now = localStandardNow();
    options.signedSet = options.signedSet || signatureBeside(*file);
    const auto findings = ini.bytes ? upd::wizard::lintUpdateIni(*ini.bytes, options)
                                    : std::vector{upd::wizard::tooLargeFinding()};
    for (const auto& finding : findings) {
        std::cout << upd::wizard::formatFinding(finding) << '\n';
    }
    return upd::wizard::hasErrors(findings) ? kExitFailure : kExitOk;
}
