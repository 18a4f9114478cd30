#include "wizard/installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "net/ascii_case.h"
#include "platform/create_folders.h"
#include "platform/update_path.h"
#include "wizard/file_copy.h"
#include "wizard/install_journal.h"
#include "wizard/install_layout.h"
#include "wizard/release_serial.h"

namespace upd::wizard {

using install_detail::failureOf;
using install_detail::inUpdateFolder;
using install_detail::Journal;
using install_detail::kBackupFolderName;
using install_detail::kCopyPartPrefix;
using install_detail::kJournalName;
using install_detail::kLockName;
using install_detail::kLogName;
using install_detail::Layout;
using install_detail::LoadedJournal;
using install_detail::loadJournal;
using install_detail::parentOf;
using install_detail::staysInside;
using install_detail::Step;
using install_detail::writeJournal;

namespace {

std::string sourcePath(const Layout& layout, const Step& step) {
    return layout.update + step.source;
}
std::string targetPath(const Layout& layout, const Step& step) {
    return layout.app + step.target;
}
// Backups and their temporary names lie in two subtrees, so no target name can clash with a
// temporary one.
std::string backupPath(const Layout& layout, const Step& step) {
    return layout.backups + "files/" + step.target;
}
std::string backupPartPath(const Layout& layout, std::size_t index) {
    return layout.backups + std::to_string(index) + ".part";
}
// Short, so that a long target name cannot make it too long.
std::string copyPartPath(const Layout& layout, const Journal& journal, std::size_t index) {
    return parentOf(targetPath(layout, journal.steps[index])) + ".upd-" + journal.token + "-" +
           std::to_string(index) + ".part";
}

// `base` and every folder of `relativeFolder` below it ("a/b/" adds base, base+"a/",
// base+"a/b/").
void addFolderChain(std::set<std::string>& folders, const std::string& base,
                    const std::string& relativeFolder) {
    folders.insert(base);
    for (std::size_t slash = relativeFolder.find('/'); slash != std::string::npos;
         slash = relativeFolder.find('/', slash + 1)) {
        folders.insert(base + relativeFolder.substr(0, slash + 1));
    }
}

std::set<std::string> foldersTouched(const Layout& layout, const Journal& journal) {
    std::set<std::string> folders;
    for (const Step& step : journal.steps) {
        addFolderChain(folders, layout.app, parentOf(step.target));
        addFolderChain(folders, layout.update, parentOf(step.source));
    }
    return folders;
}

// ---- Rollback and completion ---------------------------------------------------------------

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The last step of an installation, finished or undone: the backups and the journal go,
// and the update folder's new state is on disk.
std::optional<InstallFailure> dropJournalAndBackups(const Layout& layout) {
    std::error_code ignored;
    std::filesystem::remove_all(layout.backups, ignored);
    ::unlink(layout.journalTemp.c_str());
    if (::unlink(layout.journal.c_str()) != 0 && errno != ENOENT) {
        return failureOf("", errno);
    }
    syncFolders({layout.update});
    return std::nullopt;
}

// Whether `target` (seen as `now`) still holds the file this installation put there: the
// download itself (moved: its device and inode), or a copy of it (across file systems the
// download stays in the update folder until the clean-up, and the bytes tell).
bool holdsInstalledFile(const Step& step, const struct stat& now, const std::string& source,
                        const std::string& target) {
    if (now.st_dev == step.newDevice && now.st_ino == step.newInode) {
        return true;
    }
    return S_ISREG(now.st_mode) && sameContent(source, target);
}

// Whatever was done, undone: each target that holds its new file gets its backup back (or is
// removed when it was new), the moved downloads go back to the update folder for another
// attempt, the created folders go when empty. Runs again safely after being interrupted
// itself. On failure the journal stays for the next attempt.
std::optional<InstallFailure> rollBack(const Layout& layout, const Journal& journal) {
    std::optional<InstallFailure> failure;
    for (std::size_t i = journal.steps.size(); i-- > 0;) {
        const Step& step = journal.steps[i];
        const std::string source = sourcePath(layout, step);
        const std::string target = targetPath(layout, step);
        const std::string part = copyPartPath(layout, journal, i);
        ::unlink(part.c_str());
        const std::string backup = backupPath(layout, step);
        struct stat now {};
        // A target that was there keeps its backup until the backup is renamed back over it
        // (all backups are made before the first rename): without one it is the old file.
        if (::lstat(target.c_str(), &now) != 0 ||
            (step.existed &&
             ((now.st_dev == step.device && now.st_ino == step.inode) || !exists(backup)))) {
            continue;  // never replaced, or put back already
        }
        // The application may have run since the crash and made a file where this
        // installation had not yet put one: that file is the user's, and stays.
        if (!holdsInstalledFile(step, now, source, target)) {
            continue;
        }
        // Only a move within one file system takes the source away, and a link back then
        // works. Losing the download is no harm: the next attempt fetches it again.
        const bool moved = !exists(source);
        int error = 0;
        if (step.existed) {
            if (moved) {
                ::link(target.c_str(), source.c_str());
            }
            error = renameOver(backup, target, part);
        } else if (!(moved && ::rename(target.c_str(), source.c_str()) == 0) &&
                   ::unlink(target.c_str()) != 0 && errno != ENOENT) {
            error = errno;
        }
        if (error != 0 && !failure) {
            failure = failureOf(step.name, error);
        }
    }
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder) {
        ::rmdir((layout.app + *folder).c_str());  // kept when something else is in it now
    }
    // Done again at the next start when a folder cannot be synced: the journal stays.
    if (const int synced = syncFolders(foldersTouched(layout, journal)); synced != 0 && !failure) {
        failure = failureOf("", synced);
    }
    if (failure) {
        return failure;
    }
    return dropJournalAndBackups(layout);
}

// After the commit only the clean-up is left: downloads that were copied rather than moved,
// the sub-folders of the update folder they leave empty, the backups, the journal.
std::optional<InstallFailure> complete(const Layout& layout, const Journal& journal) {
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        ::unlink(copyPartPath(layout, journal, i).c_str());
        ::unlink(sourcePath(layout, journal.steps[i]).c_str());
        for (std::string folder = parentOf(journal.steps[i].source); !folder.empty();
             folder = parentOf(folder.substr(0, folder.size() - 1))) {
            if (::rmdir((layout.update + folder).c_str()) != 0) {
                break;  // still holds other downloads
            }
        }
    }
    return dropJournalAndBackups(layout);
}

// A journal that cannot be used goes aside with the backups, under dated names
// ("install.journal.20261207-101500", ".install-backup.20261207-101500"); the names found
// are returned, relative to the update folder. 0 or the errno of the rename that failed.
int setAside(const Layout& layout, std::string& journalAside, std::string& backupsAside) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = {};
    ::gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    const auto freeName = [&](std::string_view base) {
        std::string name = std::string(base) + "." + stamp;
        for (int n = 2; exists(layout.update + name); ++n) {
            name = std::string(base) + "." + stamp + "-" + std::to_string(n);
        }
        return name;
    };
    const bool backups = exists(layout.backups);
    journalAside = freeName(kJournalName);
    backupsAside = backups ? freeName(kBackupFolderName) : std::string();
    // rename moves a link or a folder at the journal's name as it is, never what it names.
    if (backups && ::rename(layout.backups.c_str(), (layout.update + backupsAside).c_str()) != 0) {
        return errno;
    }
    if (::rename(layout.journal.c_str(), (layout.update + journalAside).c_str()) != 0) {
        return errno;
    }
    return syncFolders({layout.update});
}

// ---- Installation --------------------------------------------------------------------------

std::string newToken() {
    std::random_device random;
    const std::uint64_t value = (std::uint64_t{random()} << 32) ^ random();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int shift = 60; shift >= 0; shift -= 4) {
        token += kHex[(value >> shift) & 15];
    }
    return token;
}

// Programs get the run bit: ELF executables and scripts.
mode_t newFileMode(const std::string& path, int& error) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    char head[4] = {};
    ssize_t got = -1;
    if (fd.get() >= 0) {
        do {
            got = ::pread(fd.get(), head, sizeof head, 0);
        } while (got < 0 && errno == EINTR);
    }
    if (got < 0) {
        error = errno;
        return 0;
    }
    const std::string_view start(head, static_cast<std::size_t>(got));
    return start == "\177ELF" || start.substr(0, 2) == "#!" ? 0755 : 0644;
}

// How a step's file is put in place, decided when it is planned.
struct Placement {
    mode_t mode = 0;  // the permission bits (never setuid or setgid: those stay with the old file)
    bool folderTarget = false;  // a folder stands where the file should go
    bool keepOwner = false;     // the old file's owner and group go to the new one, where allowed
    uid_t owner = 0;
    gid_t group = 0;
};

// Checks every entry and records what the journal needs, changing nothing. `placements`
// receives how each file will be put in place.
std::optional<InstallFailure> plan(const Layout& layout, const std::vector<InstallEntry>& entries,
                                   Journal& journal, std::vector<Placement>& placements) {
    std::set<std::string> sources;
    std::set<std::string> targets;
    std::set<std::string> folders;
    for (const InstallEntry& entry : entries) {
        const platform::UpdatePath source = platform::hostPathUnder(layout.update, entry.name);
        const platform::UpdatePath target = platform::hostPathUnder(layout.app, entry.target);
        if (!source || !target) {
            return failureOf(entry.name, platform::describe(source ? target.error : source.error));
        }
        Step step;
        step.name = entry.name;
        step.source = source.path.substr(layout.update.size());
        step.target = target.path.substr(layout.app.size());
        if (installerOwnsName(step.source)) {
            return failureOf(entry.name, "the name is that of the installation's own files");
        }
        if (inUpdateFolder(step.target)) {
            return failureOf(entry.name, "the target lies in the update folder");
        }
        // A journal naming it could not be trusted either (checkedRelative): so no such step.
        if (!staysInside(layout.app, parentOf(step.target)) ||
            !staysInside(layout.update, parentOf(step.source))) {
            return failureOf(entry.name,
                             "the folder of the file is a link that leads out of "
                             "the application folder");
        }
        if (!sources.insert(step.source).second || !targets.insert(step.target).second) {
            return failureOf(entry.name, "another entry names the same file");
        }
        struct stat info {};
        if (::lstat(source.path.c_str(), &info) != 0) {
            return failureOf(entry.name, errno);
        }
        if (!S_ISREG(info.st_mode)) {
            return failureOf(entry.name, "the downloaded file is not a regular file");
        }
        step.newDevice = info.st_dev;
        step.newInode = info.st_ino;
        Placement placement;
        mode_t& mode = placement.mode;
        if (::lstat(target.path.c_str(), &info) == 0) {
            step.existed = true;
            step.device = info.st_dev;
            step.inode = info.st_ino;
            placement.folderTarget = S_ISDIR(info.st_mode);
            placement.owner = info.st_uid;
            placement.group = info.st_gid;
            placement.keepOwner = S_ISREG(info.st_mode);
            // A link is replaced by the file itself, with the bits of the file it named.
            if (S_ISLNK(info.st_mode) && ::stat(target.path.c_str(), &info) != 0) {
                info.st_mode = 0;
            }
            if (S_ISREG(info.st_mode)) {
                mode = info.st_mode & 0777;
            }
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return failureOf(entry.name, errno);
        }
        if (mode == 0) {
            int error = 0;
            mode = newFileMode(source.path, error);
            if (error != 0) {
                return failureOf(entry.name, error);
            }
        }
        if (entry.program) {
            mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
        }
        // Folders missing now are the ones this installation creates; once one level is
        // missing, so are the ones below it.
        const std::string parent = parentOf(step.target);
        bool missing = false;
        for (std::size_t slash = parent.find('/'); slash != std::string::npos;
             slash = parent.find('/', slash + 1)) {
            const std::string folder = parent.substr(0, slash);
            missing = missing || !exists(layout.app + folder);
            if (missing && folders.insert(folder).second) {
                journal.folders.push_back(folder);
            }
        }
        journal.steps.push_back(std::move(step));
        placements.push_back(placement);
    }
    return std::nullopt;
}

// Keeps the target so a rollback can put it back: a hard link when the file system allows
// (instant, any size), else a copy under a temporary name renamed into place, so a backup that
// exists is always whole.
int makeBackup(const Layout& layout, const Step& step, std::size_t index) {
    const std::string target = targetPath(layout, step);
    const std::string backup = backupPath(layout, step);
    if (const int error = platform::createFoldersUnder(
            layout.update, std::string(kBackupFolderName) + "/files/" + parentOf(step.target), 0700,
            platform::LinkPolicy::NoFollow);
        error != 0) {
        return error;
    }
    if (::link(target.c_str(), backup.c_str()) == 0) {
        return 0;
    }
    const std::string part = backupPartPath(layout, index);
    ::unlink(part.c_str());
    return copyThenRename(target, backup, part);
}

int putInPlace(const Layout& layout, const Journal& journal, std::size_t index,
               const Placement& placement) {
    const Step& step = journal.steps[index];
    // The application's own folder links (lib -> lib64) stay usable, as they always were.
    if (const int error = platform::createFoldersUnder(layout.app, parentOf(step.target), 0755,
                                                       platform::LinkPolicy::Follow);
        error != 0) {
        return error;
    }
    const std::string source = sourcePath(layout, step);
    // Only root may give a file away; anyone else keeps the group where they belong to it.
    // Refused is no failure: the file is then this user's, as a new file would be.
    if (placement.keepOwner) {
        (void)::lchown(source.c_str(), placement.owner, placement.group);
    }
    // After the owner: the mode is the last word (a change of owner may clear bits).
    if (::chmod(source.c_str(), placement.mode) != 0) {
        return errno;
    }
    return renameOver(source, targetPath(layout, step), copyPartPath(layout, journal, index));
}

}  // namespace

namespace {
bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && net::startsWithNoCase(a, b);
}
}  // namespace

bool installerOwnsName(std::string_view name) {
    const auto separator = [](char c) { return c == '/' || c == '\\'; };
    bool first = true;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t end = pos;
        while (end < name.size() && !separator(name[end])) {
            ++end;
        }
        const std::string_view part = name.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") {
            continue;  // dropped by the path rules, as "\\install.journal" or "./x"
        }
        // Folded: on a folder without case, "Install.Journal" is the journal itself.
        // Prefixes: journals and backups set aside carry a date after the name.
        if (first &&
            (net::startsWithNoCase(part, kJournalName) ||
             net::startsWithNoCase(part, kBackupFolderName) || sameNoCase(part, kLockName) ||
             sameNoCase(part, kSerialFileName) || sameNoCase(part, kLogName) ||
             sameNoCase(part, std::string(kLogName) + ".1"))) {
            return true;
        }
        if (net::startsWithNoCase(part, kCopyPartPrefix)) {
            return true;
        }
        first = false;
    }
    return false;
}

InstallResult installFiles(const std::string& appFolder, const std::vector<InstallEntry>& entries) {
    InstallResult result;
    if (RecoveryResult earlier = recoverInterruptedInstall(appFolder); earlier.failure) {
        result.failure = std::move(earlier.failure);
        result.recoveryPending = true;
        return result;
    }
    if (entries.empty()) {
        return result;
    }
    const Layout layout(appFolder);
    Journal journal;
    journal.token = newToken();
    std::vector<Placement> placements;
    if (auto failure = plan(layout, entries, journal, placements)) {
        result.failure = std::move(failure);
        return result;
    }
    // Every download on disk before anything changes (see syncFile).
    for (const Step& step : journal.steps) {
        if (const int error = syncFile(sourcePath(layout, step)); error != 0) {
            result.failure = failureOf(step.name, error);
            return result;
        }
    }
    // Left by a clean-up that was cut short; without a journal nothing needs it.
    std::error_code ignored;
    std::filesystem::remove_all(layout.backups, ignored);
    if (auto failure = writeJournal(layout, journal)) {
        result.failure = std::move(failure);
        return result;
    }
    const auto fail = [&](InstallFailure failure) {
        result.recoveryPending = rollBack(layout, journal).has_value();
        result.failure = std::move(failure);
        return result;
    };
    // Every backup before the first rename: a failure here has changed nothing yet. A folder
    // in a target's place cannot be replaced; its rename fails in turn.
    std::set<std::string> backupFolders{layout.update};
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        const Step& step = journal.steps[i];
        if (step.existed && !placements[i].folderTarget) {
            if (const int error = makeBackup(layout, step, i); error != 0) {
                return fail(failureOf(step.name, error));
            }
            addFolderChain(backupFolders, layout.backups, "files/" + parentOf(step.target));
        }
    }
    if (const int error = syncFolders(backupFolders); error != 0) {
        return fail(failureOf("", error));
    }
    for (std::size_t i = 0; i < journal.steps.size(); ++i) {
        if (const int error = putInPlace(layout, journal, i, placements[i]); error != 0) {
            return fail(failureOf(journal.steps[i].name, error));
        }
    }
    // The renames durable before the commit says they happened.
    if (const int error = syncFolders(foldersTouched(layout, journal)); error != 0) {
        return fail(failureOf("", error));
    }
    journal.committed = true;
    if (auto failure = writeJournal(layout, journal)) {
        journal.committed = false;
        return fail(std::move(*failure));
    }
    // Everything is in place; a clean-up cut short is finished at the next start.
    complete(layout, journal);
    for (const Step& step : journal.steps) {
        result.installed.push_back(targetPath(layout, step));
    }
    return result;
}

RecoveryResult recoverInterruptedInstall(const std::string& appFolder) {
    const Layout layout(appFolder);
    RecoveryResult result;
    LoadedJournal loaded = loadJournal(layout);
    if (!loaded.found) {
        ::unlink(layout.journalTemp.c_str());  // a journal whose writing was cut short
        return result;
    }
    result.journalFound = true;
    if (!loaded.journal) {
        // Not a permanent block: kept for a look, under names no installation uses.
        std::string journalAside;
        std::string backupsAside;
        if (const int error = setAside(layout, journalAside, backupsAside); error != 0) {
            result.failure = failureOf("", error);
            return result;
        }
        result.setAsideJournal = std::move(journalAside);
        result.setAsideBackups = std::move(backupsAside);
        return result;
    }
    if (loaded.journal->committed) {
        result.failure = complete(layout, *loaded.journal);
        result.completed = !result.failure;
    } else {
        result.failure = rollBack(layout, *loaded.journal);
        result.rolledBack = !result.failure;
    }
    return result;
}

}  // namespace upd::wizard
