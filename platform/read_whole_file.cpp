#include "platform/read_whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace upd::platform {
namespace {

std::string systemText(int code) {
    return std::error_code(code, std::generic_category()).message();
}

}  // namespace

ReadResult readWholeFile(const std::string& path, std::uint64_t limit, LinkPolicy links) {
    ReadResult result;
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                      (links == LinkPolicy::NoFollow ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        result.missing = error == ENOENT || error == ENOTDIR;
        result.isLink = error == ELOOP && links == LinkPolicy::NoFollow;
        result.error = result.isLink ? path + " is a symbolic link"
                                     : "cannot read " + path + ": " + systemText(error);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = "cannot read " + path + ": " +
                       (S_ISDIR(info.st_mode) ? systemText(EISDIR) : "not a regular file");
        ::close(fd);
        return result;
    }
    result.mode = info.st_mode;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result.error = "cannot read " + path + ": " + systemText(errno);
            ::close(fd);
            return result;
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > limit) {
            result.tooLarge = true;
            result.error = path + " is larger than " + std::to_string(limit) + " bytes";
            ::close(fd);
            return result;
        }
    }
    ::close(fd);
    result.bytes = std::move(bytes);
    return result;
}

}  // namespace upd::platform
