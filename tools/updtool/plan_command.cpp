#include "tools/updtool/plan_command.h"

#include <unistd.h>

#include <iostream>
#include <optional>
#include <string_view>

#include "app/string_table.h"
#include "platform/language.h"
#include "platform/printable_text.h"
#include "tools/updtool/exit_status.h"
#include "tools/updtool/usage_error.h"
#include "wizard/download_plan.h"
#include "wizard/file_version.h"
#include "wizard/information_file.h"
#include "wizard/plan_text.h"
#include "wizard/update_info.h"

namespace {

using upd::platform::printableText;
using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

constexpr const char* kPlanUsage =
    "usage: updtool plan [--server ADDRESS] [--self FILE] [--full-package yes|no]\n"
    "                    [--info FILE] APPFOLDER\n"
    "  --server        the chosen server's address (default http://127.0.0.1/)\n"
    "  --self          the updater whose version counts (default APPFOLDER/update-wizard)\n"
    "  --full-package  the answer to the full-package question (default yes)\n"
    "  --info          the update information (default APPFOLDER/update.ini)\n";

const char* nextName(upd::wizard::PlanNext next) {
    switch (next) {
        case upd::wizard::PlanNext::Download:
            return "download";
        case upd::wizard::PlanNext::Finish:
            return "finish";
        case upd::wizard::PlanNext::Stay:
            break;
    }
    return "stay";
}

}  // namespace

int runPlan(const std::vector<std::string>& args) {
    std::string server = "http://127.0.0.1/";
    std::optional<std::string> self;
    std::optional<std::string> info;
    bool fullPackage = true;
    std::optional<std::string> folder;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "--server" || arg == "--self" || arg == "--full-package" || arg == "--info";
        if (takesValue && i + 1 >= args.size()) {
            return usageError("plan", arg + " needs a value", kPlanUsage);
        }
        if (arg == "--server") {
            server = args[++i];
        } else if (arg == "--self") {
            self = args[++i];
        } else if (arg == "--info") {
            info = args[++i];
        } else if (arg == "--full-package") {
            const std::string& answer = args[++i];
            if (answer != "yes" && answer != "no") {
                return usageError("plan", "--full-package takes yes or no", kPlanUsage);
            }
            fullPackage = answer == "yes";
        } else if (arg.starts_with("--")) {
            return usageError("plan", "unknown option " + arg, kPlanUsage);
        } else if (folder) {
            return usageError("plan", "only one APPFOLDER", kPlanUsage);
        } else {
            folder = arg;
        }
    }
    if (!folder || folder->empty()) {
        return usageError("plan", "APPFOLDER is missing", kPlanUsage);
    }
    std::string appFolder = *folder;
    if (appFolder.back() != '/') {
        appFolder += '/';
    }
    const std::string iniPath = info.value_or(appFolder + "update.ini");
    const std::string selfPath = self.value_or(appFolder + "update-wizard");
    if (access(iniPath.c_str(), R_OK) != 0) {
        // The wizard reads a missing file as empty and fails the same way; say which file.
        std::cerr << "updtool plan: cannot read " << iniPath << '\n';
    }
    // Read once, as the wizard reads it (no key: the signature is verify's business).
    upd::wizard::LoadedInformation loaded =
        upd::wizard::loadUpdateInformation(iniPath, std::nullopt, std::nullopt);
    if (!loaded) {
        std::cerr << "updtool plan: " << printableText(loaded.reason) << '\n';
        return kExitFailure;
    }

    // As in the wizard: contents and descriptions by the system language, and so the texts.
    const upd::platform::LangId language = upd::platform::systemLanguageId();
    const upd::wizard::UpdateInformation analysed = upd::wizard::analyseUpdateInformation(
        std::move(loaded.document), std::move(loaded.ini), appFolder, language, language);
    if (!analysed) {
        std::cerr << analysed.text << '\n' << "(" << printableText(*analysed.failure) << ")\n";
        return kExitFailure;
    }
    upd::wizard::PlanRequest request;
    request.appFolder = appFolder;
    request.selfVersionKey = upd::wizard::GetFileVersionText(selfPath, "ProductVersion");
    request.serverAddress = server;
    request.textLanguage = language;
    request.confirmFullPackage = [fullPackage](const std::string&) { return fullPackage; };
    const upd::wizard::DownloadPlan plan = upd::wizard::makeDownloadPlan(analysed, request);
    if (!plan) {
        std::cerr << printableText(*plan.failure) << '\n';
        return kExitFailure;
    }
    // Sources and descriptions come from the server: a tab or an escape byte in them must not
    // forge a column or reach the terminal.
    // Then the form the wizard would fetch and its size.
    for (const auto& row : plan.rows) {
        std::cout << upd::wizard::planRowText(row, appFolder).line << '\n';
    }
    std::cout << "next\t" << nextName(plan.next) << '\n';
    return kExitOk;
}
