// One running instance per program file. The first instance holds an advisory lock
// (flock) on a file named after the executable's real path, in $XDG_RUNTIME_DIR (else
// $TMPDIR, else /tmp); a second start finds the lock taken and ends. The lock dies with
// the process that holds it, so a crash never leaves the program unable to start.
#pragma once

#include <string>
#include <string_view>

namespace upd::app {

class SingleInstance {
  public:
    enum class State {
        First,           // this process holds the lock
        AlreadyRunning,  // another process holds it
        Unchecked,       // the lock file could not be opened or locked; run anyway
    };

    // Tries to become the running instance of the program at `executablePath` (any path
    // to it: links are resolved, so every path to one file shares one lock).
    static SingleInstance acquire(const std::string& executablePath);
    // The same for the running executable.
    static SingleInstance acquireForThisProgram();

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&& other) noexcept;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    // Releases the lock (the file stays; removing it could split two starters' locks).
    ~SingleInstance();

    State state() const { return m_state; }
    bool alreadyRunning() const { return m_state == State::AlreadyRunning; }
    const std::string& lockPath() const { return m_lockPath; }

  private:
    SingleInstance(State state, int fd, std::string lockPath);

    State m_state = State::Unchecked;
    int m_fd = -1;
    std::string m_lockPath;
};

// Where lock files go: $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp. A variable that is not
// an absolute path is passed over.
std::string lockFolder();

// The lock file of a program: "<folder>/<file name>-<64-bit hash of the real path in hex>.lock".
// The name keeps letters, digits, '.', '-' and '_' of the file name (others become '_', at
// most 64 of them) so that the file is easy to recognise; the hash tells programs of the
// same name in different folders apart.
std::string lockFilePath(std::string_view folder, std::string_view realExecutablePath);

// The real path of the running executable; empty when it cannot be found.
std::string runningExecutablePath();

}  // namespace upd::app
