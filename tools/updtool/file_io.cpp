#include "tools/updtool/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/write_all.h"

namespace updtool {
namespace {

std::string systemText(int code) {
    return std::error_code(code, std::generic_category()).message();
}

// Writes, sets the mode (the umask must not loosen or tighten it), flushes and closes. Returns
// 0 or the errno; the descriptor is closed either way.
int fillAndClose(int fd, std::string_view bytes, mode_t mode) {
    int error = 0;
    if (::fchmod(fd, mode) != 0 || !upd::platform::writeAll(fd, bytes) || ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

void syncFolderOf(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ReadResult readWholeFile(const std::string& path, std::uint64_t limit) {
    ReadResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result.missing = errno == ENOENT;
        result.error = "cannot read " + path + ": " + systemText(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = "cannot read " + path + ": " +
                       (S_ISDIR(info.st_mode) ? systemText(EISDIR) : "not a regular file");
        ::close(fd);
        return result;
    }
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

std::string createExclusive(const std::string& path, std::string_view bytes, mode_t mode) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0600);
    if (fd < 0) {
        return "cannot create " + path + ": " + systemText(errno);
    }
    if (const int error = fillAndClose(fd, bytes, mode); error != 0) {
        ::unlink(path.c_str());  // made by this call: nobody else's file
        return "cannot write " + path + ": " + systemText(error);
    }
    syncFolderOf(path);
    return {};
}

std::string writeBeside(const std::string& path, std::string_view bytes, mode_t mode) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return "cannot create a file in " + folder.string() + ": " + systemText(errno);
    }
    int error = fillAndClose(fd, bytes, mode);
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return "cannot write " + path + ": " + systemText(error);
    }
    syncFolderOf(path);
    return {};
}

}  // namespace updtool
