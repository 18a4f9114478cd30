#include "platform/spawn_detached.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace upd::platform {
namespace {

// What the C library searches when PATH is not set.
constexpr std::string_view kDefaultPath = "/bin:/usr/bin";

// The program called `name` in PATH, or "" when none is there: the first absolute folder of
// PATH that holds a regular file this process may run. Empty and relative entries ("",
// ".", "bin") are skipped: they name the child's working folder, the application folder, so
// anyone who can write there would choose the program that runs ("xdg-open" beside us).
std::string findInPath(const std::string& name) {
    const char* variable = std::getenv("PATH");
    const std::string_view path = variable != nullptr ? std::string_view(variable) : kDefaultPath;
    for (std::size_t begin = 0;;) {
        const std::size_t end = std::min(path.find(':', begin), path.size());
        const std::string_view folder = path.substr(begin, end - begin);
        if (folder.starts_with('/')) {
            const std::string candidate =
                std::string(folder) + (folder.ends_with('/') ? "" : "/") + name;
            struct stat info {};
            if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0) {
                return candidate;
            }
        }
        if (end == path.size()) {
            return {};
        }
        begin = end + 1;
    }
}

}  // namespace

int spawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder, bool searchPath) {
    // Looked up here: posix_spawnp would search after the child's chdir, where "" or "." in
    // PATH names the application folder.
    const std::string file =
        searchPath && program.find('/') == std::string::npos ? findInPath(program) : program;
    if (file.empty()) {
        return ENOENT;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    // Its own session, and the signal handling of a fresh program: this process ignores
    // SIGPIPE and blocks its termination signals.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int error =
        posix_spawn(&child, file.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error == 0) {
        // Reaped if it ends while this program still runs; no zombie meanwhile matters.
        (void)waitpid(child, nullptr, WNOHANG);
    }
    return error;
}

int openWithDesktop(const std::string& path, const std::string& workingFolder) {
    return spawnDetached("xdg-open", {path}, workingFolder, true);
}

}  // namespace upd::platform
