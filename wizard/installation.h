// The installation of a downloaded update: moves the files that the download page left in the
// update folder (APP/update/) to their places in the application folder (APP/), all or nothing.
// Toolkit-free.
//
//   // At every start, before anything else reads the application folder:
//   if (const auto r = recoverInterruptedInstall(app); r.failure) { ...report, stop... }
//   ...
//   const auto result = installFiles(app, {{"sub\\a.dll", "sub\\a.dll"},
//                                          {"update.exe", "reupdate.exe"}});
//   if (!result) { ...result.failure->entry, result.failure->systemText... }
//
// How it keeps the application whole:
//   - nothing changes until every source is found and every name is checked
//     (platform::hostPathUnder refuses names that lead out of their folder);
//   - a journal (APP/update/install.journal) is on disk before the first change;
//   - every file that will be replaced is kept first (APP/update/.install-backup/, a hard link
//     or a copy), then each new file is renamed over the old one, so no file is ever missing;
//   - every download is flushed to disk (fsync) before the first rename, and the folders after
//     the last one, before the commit: a power cut after the commit cannot bring back an empty
//     file with no old copy;
//   - when a file cannot be put in place, the files already moved go back to the update folder
//     and the kept ones back to their places. A kill or power loss at any moment leaves the
//     journal, and recoverInterruptedInstall finishes the job at the next start: the old set
//     when the installation had not committed, the new one when it had. A rollback touches a
//     target only while it still holds the file this installation put there (the application
//     may have run since the crash and written its own).
//
// The journal is hostile input like anything on disk: its names are checked as the plan's
// are, and a path that would lead out of its folder through a link is refused. A journal
// that cannot be used is set aside (with its backups) under a dated name rather than blocking
// every start. Two installations into one folder are kept apart by the caller
// (update_folder_lock.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upd::wizard {

struct InstallEntry {
    std::string name;    // the downloaded file, relative to the update folder ("sub\\a.dll")
    std::string target;  // where it goes, relative to the application folder (usually == name;
                         // "reupdate.exe" for a downloaded "update.exe")
    // Gets the run bit for whoever may read it, before the commit: a program that will be
    // started right after (the new updater) must never be left without it.
    bool program = false;
};

struct InstallFailure {
    std::string entry;  // InstallEntry::name of the file that failed ("" for a journal failure)
    int error = 0;      // errno of the failing call (0 when the cause is not a system call)
    bool inUseOrDenied = false;  // EACCES, EPERM, EBUSY, ETXTBSY, EROFS: "in use or no access"
    std::string systemText;      // strerror(error), or a short English text when error is 0
};

struct InstallResult {
    std::optional<InstallFailure> failure;  // empty: every entry is in place
    std::vector<std::string> installed;     // host paths now in place, in order (empty on failure)
    // Set with `failure` when even the rollback could not finish (a file it must put back is
    // held or denied too): the journal stays and recoverInterruptedInstall retries at the next
    // start.
    bool recoveryPending = false;

    explicit operator bool() const { return !failure; }
};

// appFolder has a trailing '/'. The update folder is appFolder + "update/". Each target gets
// the permission bits of the file it replaces (never its setuid and setgid bits) and, where
// this process may, its owner and group; a new one gets 0755 when it starts like a program
// (ELF or "#!"), else 0644. A target whose folder resolves outside the application folder (a
// link to elsewhere) is refused. On success the sources are gone from the update folder;
// on failure they are all there again and the application folder is as it was.
// An interrupted earlier installation is recovered first (a failure of that fails this call).
InstallResult installFiles(const std::string& appFolder, const std::vector<InstallEntry>& entries);

struct RecoveryResult {
    bool journalFound = false;
    // The journal could not be used (garbage, a folder, a link, a name it must not hold): it
    // and the backups were renamed to these names in the update folder and the start goes on.
    // The application folder is then as the interrupted installation left it; the next update
    // fetches every file that is out of date.
    std::string setAsideJournal;
    std::string setAsideBackups;
    bool rolledBack = false;  // an interrupted install was rolled back
    bool completed = false;   // an install that had committed was finished (clean-up only)
    std::optional<InstallFailure> failure;  // recovery itself failed (journal left for next time)
};

// Called at every start before anything else: finishes or rolls back an installation that was
// interrupted (power loss, kill -9). Nothing to do when there is no journal.
RecoveryResult recoverInterruptedInstall(const std::string& appFolder);

// True for a name (relative, '\\' or '/' between folders) that the installer keeps for its own
// files: its journal, its backup folder and lock in the update folder ("install.journal",
// ".install-backup\\x"), and the copies it makes beside a target (".upd-..."). An update set
// naming one could plant a journal that the next start would replay.
bool installerOwnsName(std::string_view name);

}  // namespace upd::wizard
