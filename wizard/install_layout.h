// The installer's own names and places under the application folder, shared by the
// installation and its journal, and how a failed call becomes an InstallFailure. Nothing here
// touches the disk or fails.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/app_folder.h"
#include "wizard/installation.h"

namespace upd::wizard::install_detail {

inline constexpr std::string_view kJournalName = "install.journal";
inline constexpr std::string_view kJournalTempName = "install.journal.new";
inline constexpr std::string_view kBackupFolderName = ".install-backup";
// Taken by a running installation (see installerOwnsName); reserved now so that no update set
// can ever announce it.
inline constexpr std::string_view kLockName = "install.lock";
// The support desk's log and its older copy (app/update_log.h): in the update folder, where a
// file of that name would be downloaded into it.
inline constexpr std::string_view kLogName = "update.log";
// Copies made beside a target while it is replaced: ".upd-<token>-<n>.part".
inline constexpr std::string_view kCopyPartPrefix = ".upd-";
inline constexpr std::string_view kUpdateFolderName = "update";

inline InstallFailure failureOf(const std::string& entry, int error) {
    InstallFailure failure;
    failure.entry = entry;
    failure.error = error;
    failure.inUseOrDenied =
        error == EACCES || error == EPERM || error == EBUSY || error == ETXTBSY || error == EROFS;
    failure.systemText = std::generic_category().message(error);
    return failure;
}

inline InstallFailure failureOf(const std::string& entry, std::string text) {
    InstallFailure failure;
    failure.entry = entry;
    failure.systemText = std::move(text);
    return failure;
}

// Where everything lies for one application folder; the folders end with '/'.
struct Layout {
    explicit Layout(const std::string& appFolder)
        : app(platform::withTrailingSeparator(appFolder)),
          update(app + std::string(kUpdateFolderName) + "/"),
          backups(update + std::string(kBackupFolderName) + "/"),
          journal(update + std::string(kJournalName)),
          journalTemp(update + std::string(kJournalTempName)) {}

    std::string app;
    std::string update;
    std::string backups;
    std::string journal;
    std::string journalTemp;
};

// The folder of a '/'-separated path, with its '/' ("a/b/c" -> "a/b/", "c" -> "").
inline std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace upd::wizard::install_detail
