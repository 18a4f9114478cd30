#include "wizard/finish_update.h"

#include <sys/stat.h>

#include <cerrno>

#include "net/ascii_case.h"
#include "platform/spawn_detached.h"
#include "wizard/update_folder_lock.h"

namespace upd::wizard {
namespace {

constexpr const char* kUpdater = "update.exe";
constexpr const char* kNewUpdater = "reupdate.exe";
constexpr const char* kMover = "filemove.exe";
constexpr const char* kPackage = "Setup.zip";

bool fromServerFolder(const FinishRow& row) {
    return !net::startsWithNoCase(row.source, "http");
}

bool named(const FinishRow& row, std::string_view name) {
    return row.name.size() == name.size() && net::startsWithNoCase(row.name, name);
}

}  // namespace

FinishKind finishKindOf(const std::vector<FinishRow>& rows) {
    FinishKind kind = rows.empty() ? FinishKind::Nothing : FinishKind::Files;
    for (const FinishRow& row : rows) {
        if (fromServerFolder(row) || named(row, kMover)) {
            continue;
        }
        // The first complete URL decides, as the rows are taken in order.
        return named(row, kUpdater) ? FinishKind::Updater : FinishKind::FullPackage;
    }
    return kind;
}

std::string installedName(const FinishRow& row, FinishKind kind) {
    const bool updater =
        kind == FinishKind::Updater && named(row, kUpdater) && !fromServerFolder(row);
    return updater ? kNewUpdater : row.name;
}

FinishResult finishUpdate(const std::string& appFolder, const std::vector<FinishRow>& rows) {
    FinishResult result;
    result.kind = finishKindOf(rows);
    const std::string appFolderWithoutSlash = appFolder.substr(0, appFolder.size() - 1);
    if (result.kind == FinishKind::Nothing) {
        return result;
    }
    if (result.kind == FinishKind::FullPackage) {
        unlockUpdateFolder();  // nothing is installed: the package's own installer takes over
        result.startError =
            platform::openWithDesktop(appFolder + "update/" + kPackage, appFolderWithoutSlash);
        return result;
    }
    std::vector<InstallEntry> entries;
    for (const FinishRow& row : rows) {
        std::string target = installedName(row, result.kind);
        const bool updater = target == kNewUpdater;
        // Its run bit is part of the installation: a crash right after the commit must not
        // leave a new updater that cannot start.
        entries.push_back({row.name, std::move(target), updater});
    }
    InstallResult installed = installFiles(appFolder, entries);
    // The installation has ended: the new updater, started next, takes the folder's lock.
    unlockUpdateFolder();
    if (!installed) {
        result.failure = installed.failure;
        return result;
    }
    result.installed = std::move(installed.installed);
    if (result.kind == FinishKind::Updater) {
        result.startError =
            platform::spawnDetached(appFolder + kNewUpdater, {}, appFolderWithoutSlash, false);
    }
    return result;
}

}  // namespace upd::wizard
