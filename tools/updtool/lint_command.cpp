#include "tools/updtool/lint_command.h"

#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>

#include "tools/updtool/exit_status.h"
#include "tools/updtool/file_io.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_lint.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::kExitUsage;

constexpr const char* kLintUsage = "usage: updtool lint UPDATE_INI [--release RELEASE_DIR]\n";

int usageError(std::string_view message) {
    std::cerr << "updtool lint: " << message << "\n\n" << kLintUsage;
    return kExitUsage;
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
                return usageError("--release needs a folder");
            }
            options.releaseFolder = args[++i];
        } else if (args[i].starts_with("-") && args[i].size() > 1) {
            return usageError("unknown option " + args[i]);
        } else if (file) {
            return usageError("only one UPDATE_INI");
        } else {
            file = args[i];
        }
    }
    if (!file || file->empty()) {
        return usageError("UPDATE_INI is missing");
    }
    const updtool::ReadResult ini =
        updtool::readWholeFile(*file, upd::wizard::kMaxProfileFileBytes);
    if (!ini.bytes && !ini.tooLarge) {
        std::cerr << "updtool lint: " << ini.error << '\n';
        return kExitFailure;
    }
    options.now = localStandardNow();
    const auto findings = ini.bytes ? upd::wizard::lintUpdateIni(*ini.bytes, options)
                                    : std::vector{upd::wizard::tooLargeFinding()};
    for (const auto& finding : findings) {
        std::cout << upd::wizard::formatFinding(finding) << '\n';
    }
    return upd::wizard::hasErrors(findings) ? kExitFailure : kExitOk;
}
