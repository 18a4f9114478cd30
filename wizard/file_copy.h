// Files put in place durably, POSIX only: a rename with a copy as its fallback across file
// systems, a byte comparison, and the fsyncs that make contents and renames survive a power cut.
// Failures are values: each call returns 0 or the errno of the call that failed.
#pragma once

#include <unistd.h>

#include <set>
#include <string>
#include <utility>

namespace upd::wizard {

// Owns one descriptor and closes it at the end.
class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    // After writes the result of close(2) counts: network file systems report there.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// Makes renames and new names in these folders durable. Returns 0 or the first errno: before
// the commit a folder that cannot be synced (EIO) fails the installation, since its renames
// might not survive a power cut. A folder that is gone (removed when empty) needs nothing.
int syncFolders(const std::set<std::string>& folders);

// Flushes a downloaded file's contents: renamed into place unflushed, a power cut could bring
// it back empty after the commit, when no old copy is kept any more.
int syncFile(const std::string& path);

// Whether two regular files hold the same bytes: the test for an installed copy (a target
// on another file system than the update folder gets a copy, with an inode of its own).
// False too when either cannot be read.
bool sameContent(const std::string& a, const std::string& b);

// A copy of `from` (a regular file or a symbolic link, with its permission bits and times)
// made under the name `part` and renamed to `to`, so that `to` is never missing or half
// written.
int copyThenRename(const std::string& from, const std::string& to, const std::string& part);

// Puts `from` at `to` in one step, replacing what is there. Across file systems (EXDEV) the
// copy is made beside `to` under the name `part` and renamed over it; `from` then stays
// where it is.
int renameOver(const std::string& from, const std::string& to, const std::string& part);

}  // namespace upd::wizard
