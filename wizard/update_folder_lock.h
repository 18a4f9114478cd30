// One update at a time per application folder: an advisory lock (flock) on a file of the
// wizard's own in the update folder (APP/update/install.lock). Whoever runs the wizard, under
// whatever name (update-wizard, reupdate.exe) and with whatever runtime folder, the same file
// is locked, so a second wizard can never roll back or mix with the first one's installation.
//
// The wizard takes it before the recovery of an interrupted installation and holds it through
// the downloads to the end of the installation, then lets it go before starting the new
// updater (which takes it in turn). The lock dies with the process, so a crash never leaves
// the folder locked. The file stays: removing it could split two starters' locks.
#pragma once

#include <string>

namespace upd::wizard {

enum class FolderLockState {
    Held,         // this process holds it
    Busy,         // another process holds it: this one must not touch the folder
    Refused,      // a link, a file or a folder stands where the update folder or the lock file
                  // belongs: not the wizard's own, so it is not used (error says which)
    Unavailable,  // no lock can be had here (the folder cannot be written: nothing can be
                  // installed either); the caller may go on, as nothing can be changed
};

struct FolderLockResult {
    FolderLockState state = FolderLockState::Unavailable;
    int error = 0;     // errno when Unavailable
    std::string path;  // the lock file
};

// Creates the update folder when missing (never through a link) and takes the lock for the
// rest of the process, or until unlockUpdateFolder. Taking it again is harmless.
FolderLockResult lockUpdateFolder(const std::string& appFolder);

// Lets the lock go (before the new updater is started). Harmless when not held.
void unlockUpdateFolder();

}  // namespace upd::wizard
