#include "wizard/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/write_all.h"

namespace upd::wizard {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

// In pieces, whatever the size: the kernel copies (or shares blocks) when it can, a buffer
// otherwise. Both offsets advance together, so the buffer takes over where the kernel stopped.
bool copyContent(int in, int out) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
            if (copied > 0) {
                continue;
            }
            if (copied == 0) {
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            // Older kernels, and some pairs of file systems, cannot copy between these files.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                return false;
            }
            kernelCopy = false;
            buffer.resize(kCopyChunk);
        }
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        if (!platform::writeAll(out,
                                std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return false;
        }
    }
}

// Copies the regular file or symbolic link `from` to the new name `to` (never an existing
// file), with `from`'s permission bits and times. Afterwards `to` is whole and on disk, or does
// not exist. Returns 0 or the errno.
int copyFile(const std::string& from, const std::string& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        return errno;
    }
    if (S_ISLNK(info.st_mode)) {
        std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
        const ssize_t length = ::readlink(from.c_str(), link.data(), link.size());
        if (length < 0) {
            return errno;
        }
        link.resize(static_cast<std::size_t>(length));
        return ::symlink(link.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) {
        return errno;
    }
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return errno;
    }
    // The download plan compares last-write times: a copy must not look newer than the file.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    int error = 0;
    if (!copyContent(in.get(), out.get()) || ::fchmod(out.get(), info.st_mode & 07777) != 0 ||
        ::futimens(out.get(), times) != 0 || ::fsync(out.get()) != 0) {
        error = errno;
    }
    if (!out.close() && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(to.c_str());
    }
    return error;
}

}  // namespace

int syncFolders(const std::set<std::string>& folders) {
    int first = 0;
    for (const std::string& folder : folders) {
        Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const int error = fd.get() < 0             ? (errno == ENOENT ? 0 : errno)
                          : ::fsync(fd.get()) != 0 ? errno
                                                   : 0;
        if (first == 0) {
            first = error;
        }
    }
    return first;
}

int syncFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        return errno;
    }
    return 0;
}

bool sameContent(const std::string& a, const std::string& b) {
    Fd first(::open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    Fd second(::open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat one {};
    struct stat two {};
    if (first.get() < 0 || second.get() < 0 || ::fstat(first.get(), &one) != 0 ||
        ::fstat(second.get(), &two) != 0 || !S_ISREG(one.st_mode) || !S_ISREG(two.st_mode) ||
        one.st_size != two.st_size) {
        return false;
    }
    std::vector<char> x(kCopyChunk);
    std::vector<char> y(kCopyChunk);
    for (off_t at = 0; at < one.st_size;) {
        const ssize_t got = ::pread(first.get(), x.data(), x.size(), at);
        if (got <= 0 || ::pread(second.get(), y.data(), static_cast<std::size_t>(got), at) != got ||
            std::memcmp(x.data(), y.data(), static_cast<std::size_t>(got)) != 0) {
            return false;
        }
        at += got;
    }
    return true;
}

int copyThenRename(const std::string& from, const std::string& to, const std::string& part) {
    if (const int error = copyFile(from, part); error != 0) {
        return error;
    }
    if (::rename(part.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(part.c_str());
        return error;
    }
    return 0;
}

int renameOver(const std::string& from, const std::string& to, const std::string& part) {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return 0;
    }
    return errno == EXDEV ? copyThenRename(from, to, part) : errno;
}

}  // namespace upd::wizard
