// updtool: the release engineer's command-line companion of the wizard. It reads what the
// wizard reads (version resources, update.svr), writes update.svr lines, and makes, checks
// and signs update sets.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/server_list.h"
#include "platform/language.h"
#include "tools/updtool/exit_status.h"
#include "tools/updtool/fetch_command.h"
#include "tools/updtool/key_commands.h"
#include "tools/updtool/lint_command.h"
#include "tools/updtool/make_ini_command.h"
#include "tools/updtool/plan_command.h"
#include "tools/updtool/usage_error.h"
#include "wizard/file_version.h"

namespace {

using updtool::kExitFailure;
using updtool::kExitOk;
using updtool::usageError;

constexpr const char* kUsage =
    "usage: updtool COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  version [--entry NAME] FILE...   print the version key of each file's NAME entry\n"
    "                                   (default ProductVersion): KEY<TAB>FILE\n"
    "  servers FILE                     list the records of an update.svr file, then its\n"
    "                                   info file\n"
    "  server-line NAME ADDRESS INFOFILE EN|CHS\n"
    "                                   print one update.svr line for that server\n"
    "  fetch [-o FILE | --temp | --memory] [--proxy none|http|socks4|socks5]\n"
    "        [--proxy-host H] [--proxy-port N] [--proxy-user U] [--proxy-pass P]\n"
    "        [--remote-dns] [--proxy-auth 0|2] [--user U] [--password P]\n"
    "        [--resume-from N] [--max N] [--no-redirect] [--packet-size N]\n"
    "        [--allow-cache] [--id N] [--timeout SECONDS] [--trace] [--keep-alive]\n"
    "        [--quiet] URL [URL...]\n"
    "                                   download URL with the wizard's engine: into FILE, a\n"
    "                                   temporary file (its name printed), memory or standard\n"
    "                                   output; --trace lists the events on standard error;\n"
    "                                   without proxy options the system's proxy (http_proxy)\n"
    "  plan [--server ADDRESS] [--self FILE] [--full-package yes|no] [--info FILE] APPFOLDER\n"
    "                                   what the wizard would download into APPFOLDER:\n"
    "                                   SOURCE<TAB>TARGET<TAB>DESCRIPTION<TAB>FORM<TAB>SIZE,\n"
    "                                   then next<TAB>...\n"
    "  make-ini RELEASE_DIR [-o FILE] [--ver V] [--time T] [--contents-en TEXT]\n"
    "        [--contents-chs TEXT] [--update-ver V] [--move-ver V] [--force-up URL]\n"
    "        [--update-exe FILE] [--move-exe FILE] [--package FILE]\n"
    "        [--serial N] [--expires DAYS] [--compress] [--base OLD_DIR ...]\n"
    "                                   update.ini for the files of RELEASE_DIR, with their\n"
    "                                   versions or dates and SHA-256 digests; each file\n"
    "                                   offered must be at hand to digest\n"
    "  lint UPDATE_INI [--release RELEASE_DIR [--base OLD_DIR ...]] [--signed]\n"
    "                                   what the wizard would trip on: LINE: problem. fix: ...\n"
    "                                   (--signed, or UPDATE_INI.sig beside it: a missing\n"
    "                                   digest is an error)\n"
    "  keygen PREFIX                    a key pair: PREFIX.key (secret, 0600), PREFIX.pub\n"
    "                                   (ship it as update.pub beside update-wizard)\n"
    "  sign --key FILE.key UPDATE_INI   write UPDATE_INI.sig\n"
    "  verify --pub FILE.pub UPDATE_INI check UPDATE_INI.sig, Serial and Expires as the wizard "
    "does\n"
    "  --help                           show this text\n";

bool readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

std::string withoutNuls(std::string text) {
    std::erase(text, '\0');
    return text;
}

int runVersion(const std::vector<std::string>& args) {
    std::string entry = "ProductVersion";
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--entry") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return usageError("", "--entry needs a name", kUsage);
            }
            entry = args[++i];
        } else if (args[i].starts_with("--entry=")) {
            entry = args[i].substr(8);
        } else if (args[i].starts_with("--") && args[i] != "--") {
            return usageError("", "unknown option " + args[i], kUsage);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        return usageError("", "version needs at least one FILE", kUsage);
    }
    int status = kExitOk;
    for (const auto& file : files) {
        if (!readable(file)) {
            std::cerr << "updtool: cannot read " << file << ": " << std::strerror(errno) << '\n';
            status = kExitFailure;
            continue;
        }
        std::cout << upd::wizard::GetFileVersionText(file, entry) << '\t' << file << '\n';
    }
    return status;
}

int runServers(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return usageError("", "servers needs exactly one FILE", kUsage);
    }
    const auto file = upd::app::readServerFileInRecordCodePages(args[0]);
    if (!file.readable) {
        std::cerr << "updtool: cannot read " << args[0] << ": " << std::strerror(errno) << '\n';
        return kExitFailure;
    }
    for (const auto& fields : file.records) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (i > 0) {
                std::cout << '\t';
            }
            if (i < fields.size()) {
                std::cout << withoutNuls(fields[i]);
            }
        }
        std::cout << '\n';
    }
    std::cout << "info-file\t" << withoutNuls(file.infoFile) << '\n';
    return kExitOk;
}

int runServerLine(const std::vector<std::string>& args) {
    if (args.size() != 4) {
        return usageError("", "server-line needs NAME ADDRESS INFOFILE EN|CHS", kUsage);
    }
    const std::string& tag = args[3];
    const auto language = upd::platform::languageProfileForTag(tag);
    if (!language) {
        return usageError("", "the language must be EN or CHS", kUsage);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (args[i].find(',') != std::string::npos) {
            return usageError("", "a field of update.svr cannot hold a comma: " + args[i], kUsage);
        }
    }
    // update.svr is a Windows text file: lines end with CR LF.
    std::cout << upd::app::encodeServerLine(args[0], args[1], args[2], tag, language->codePage)
              << "\r\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usageError("", "no command given", kUsage);
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
    }
    if (command == "version") {
        return runVersion(args);
    }
    if (command == "servers") {
        return runServers(args);
    }
    if (command == "server-line") {
        return runServerLine(args);
    }
    if (command == "fetch") {
        return runFetch(args);
    }
    if (command == "plan") {
        return runPlan(args);
    }
    if (command == "make-ini") {
        return runMakeIni(args);
    }
    if (command == "lint") {
        return runLint(args);
    }
    if (command == "keygen") {
        return runKeygen(args);
    }
    if (command == "sign") {
        return runSign(args);
    }
    if (command == "verify") {
        return runVerify(args);
    }
    return usageError("", "unknown command " + command, kUsage);
}
