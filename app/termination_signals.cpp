#include "app/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace upd::app {
namespace {

int g_readFd = -1;
volatile sig_atomic_t g_writeFd = -1;

// Only async-signal-safe calls: one write, errno kept for the code the signal interrupted.
void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(g_writeFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

int TerminationSignals::install() {
    if (g_readFd >= 0) {
        return g_readFd;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    g_readFd = fds[0];
    g_writeFd = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        sigaction(signal, &action, nullptr);
    }
    return g_readFd;
}

int TerminationSignals::drain(int readFd) {
    int count = 0;
    char buffer[64];
    for (;;) {
        const ssize_t n = read(readFd, buffer, sizeof buffer);
        if (n > 0) {
            count += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return count;
    }
}

}  // namespace upd::app
