#include "platform/create_folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace upd::platform {

int createFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') {
            continue;
        }
        const std::string level = path.substr(0, at);
        if (::mkdir(level.c_str(), 0755) == 0) {
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == EEXIST && ::stat(level.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            continue;
        }
        return error == EEXIST ? ENOTDIR : error;
    }
    return 0;
}

}  // namespace upd::platform
