#include "platform/create_folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace upd::platform {
namespace {

std::string withSlash(std::string base) {
    if (!base.empty() && base.back() != '/') {
        base += '/';
    }
    return base;
}

// Each level's length in `relative`: "a/b/c" gives 1, 3, 5.
template <typename Visit>
int forEachLevel(std::string_view relative, Visit visit) {
    for (std::size_t at = 1; at <= relative.size(); ++at) {
        if (at != relative.size() && relative[at] != '/') {
            continue;
        }
        if (relative[at - 1] == '/') {
            continue;  // "a//b" or a trailing '/': the level was visited already
        }
        if (const int error = visit(relative.substr(0, at)); error != 0) {
            return error;
        }
    }
    return 0;
}

}  // namespace

int createFoldersUnder(const std::string& base, std::string_view relativeFolder, mode_t mode,
                       LinkPolicy links) {
    const std::string root = withSlash(base);
    return forEachLevel(relativeFolder, [&](std::string_view level) {
        const std::string path = root + std::string(level);
        if (::mkdir(path.c_str(), mode) == 0) {
            return 0;
        }
        const int error = errno;
        if (error != EEXIST) {
            return error;
        }
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            return errno;
        }
        if (S_ISLNK(info.st_mode)) {
            if (links == LinkPolicy::NoFollow) {
                return ELOOP;
            }
            if (::stat(path.c_str(), &info) != 0) {
                return ENOTDIR;
            }
        }
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    });
}

int linkAlong(const std::string& base, std::string_view relativePath) {
    const std::string root = withSlash(base);
    bool ended = false;
    return forEachLevel(relativePath, [&](std::string_view level) {
        struct stat info {};
        if (ended || ::lstat((root + std::string(level)).c_str(), &info) != 0) {
            ended = true;
            return 0;
        }
        return S_ISLNK(info.st_mode) ? ELOOP : 0;
    });
}

}  // namespace upd::platform
