#include "platform/spawn_detached.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace upd::platform {

int spawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder, bool searchPath) {
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
        searchPath
            ? posix_spawnp(&child, program.c_str(), &actions, &attributes, argv.data(), environ)
            : posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
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
