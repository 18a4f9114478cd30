// Internal to the profile-file functions (wizard/profile_file.h), not for other callers: the
// parsed files that ReadIniValue keeps, and the bounded read of a whole profile file that the
// cache and the writer (wizard/profile_writer.h) share.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/code_page.h"
#include "wizard/profile_document.h"

namespace upd::wizard::profile_detail {

// What must stay the same for a parsed file to be reused.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& info);

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }

    int get() const { return m_fd; }
    // Closes now, reporting the error that a deferred write may only show here.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

  private:
    int m_fd = -1;
};

enum class ReadStatus { Ok, Missing, Failed, TooLarge };

struct FileContent {
    FileDescriptor fd;  // still open, for the cache
    std::string bytes;
    FileStamp stamp;
    mode_t mode = 0;
    bool stable = false;  // the file did not change while it was read
    int error = 0;
};

// The whole regular file at `path`, up to kMaxProfileFileBytes.
// `openFlags` adds to O_RDONLY: a private write passes O_NOFOLLOW and O_NONBLOCK.
ReadStatus readWholeFile(const std::string& path, FileContent& out, int openFlags = 0);

// The parsed files, shared by every thread: one mutex guards them.
class ProfileCache {
  public:
    std::string read(const std::string& section, const std::string& key, const std::string& file);

    // After a write: `fd` is open on the file that was written, `stamp` is its state then.
    void remember(const std::string& file, FileDescriptor fd, const FileStamp& stamp,
                  ProfileDocument document);

    void forget(const std::string& file);

    std::uint64_t loads() const;

  private:
    struct Entry {
        FileDescriptor fd;
        FileStamp stamp;
        ProfileDocument document;
        std::int64_t pathCheckedMs = 0;  // platform::monotonicMs()
        std::uint64_t lastUse = 0;
    };

    static bool isCurrent(const std::string& file, Entry& entry, platform::CodePage cp);

    void rememberLocked(const std::string& file, FileDescriptor fd, const FileStamp& stamp,
                        ProfileDocument document);

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::uint64_t m_clock = 0;
    std::uint64_t m_loads = 0;
};

// The one cache of the program.
ProfileCache& profileCache();

}  // namespace upd::wizard::profile_detail
