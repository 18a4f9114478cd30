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
