#include "wizard/update_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/app_folder.h"
#include "platform/create_folders.h"

namespace upd::wizard {
namespace {

int& heldDescriptor() {
    static int fd = -1;
    return fd;
}

}  // namespace

FolderLockResult lockUpdateFolder(const std::string& appFolder) {
    FolderLockResult result;
    result.path = platform::withTrailingSeparator(appFolder) + "update/install.lock";
    if (heldDescriptor() >= 0) {
        result.state = FolderLockState::Held;
        return result;
    }
    // A link where the update folder or the lock belongs is not the wizard's own; anything
    // else that stops them (no right to write, a file named "update") stops every change to
    // the folder as well, so the run may go on without the lock.
    const auto refusedOr = [&](int error) {
        result.error = error;
        result.state = error == ELOOP || error == EISDIR ? FolderLockState::Refused
                                                         : FolderLockState::Unavailable;
        return result;
    };
    if (const int error =
            platform::createFoldersUnder(appFolder, "update", 0755, platform::LinkPolicy::NoFollow);
        error != 0) {
        return refusedOr(error);
    }
    // Read-only and readable by all: a second user can lock the first one's file. Never
    // through a link, never waiting on a pipe.
    const int fd =
        ::open(result.path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        return refusedOr(errno);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result.error = errno;
        ::close(fd);
        result.state =
            result.error == EWOULDBLOCK ? FolderLockState::Busy : FolderLockState::Unavailable;
        return result;
    }
    heldDescriptor() = fd;
    result.state = FolderLockState::Held;
    return result;
}

void unlockUpdateFolder() {
    if (heldDescriptor() >= 0) {
        ::close(heldDescriptor());
        heldDescriptor() = -1;
    }
}

}  // namespace upd::wizard
