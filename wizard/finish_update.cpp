#include "wizard/finish_update.h"

#include <sys/stat.h>

#include <cerrno>

#include "net/ascii_case.h"
#include "platform/spawn_detached.h"

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

FinishResult finishUpdate(const std::string& appFolder, const std::vector<FinishRow>& rows) {
    FinishResult result;
    result.kind = finishKindOf(rows);
    const std::string appFolderWithoutSlash = appFolder.substr(0, appFolder.size() - 1);
    if (result.kind == FinishKind::Nothing) {
        return result;
    }
    if (result.kind == FinishKind::FullPackage) {
        result.startError =
            platform::openWithDesktop(appFolder + "update/" + kPackage, appFolderWithoutSlash);
        return result;
    }
    std::vector<InstallEntry> entries;
    for (const FinishRow& row : rows) {
        const bool updater =
            result.kind == FinishKind::Updater && named(row, kUpdater) && !fromServerFolder(row);
        entries.push_back({row.name, updater ? kNewUpdater : row.name});
    }
    InstallResult installed = installFiles(appFolder, entries);
    if (!installed) {
        result.failure = installed.failure;
        return result;
    }
    result.installed = std::move(installed.installed);
    if (result.kind == FinishKind::Updater) {
        const std::string program = appFolder + kNewUpdater;
        struct stat info {};
        if (::stat(program.c_str(), &info) != 0) {
            result.startError = errno;
            return result;
        }
        // Downloaded programs carry no run bit; whoever may read it may run it.
        const mode_t readers = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
        if (::chmod(program.c_str(), (info.st_mode & 07777) | (readers >> 2)) != 0) {
            result.startError = errno;
            return result;
        }
        result.startError = platform::spawnDetached(program, {}, appFolderWithoutSlash, false);
    }
    return result;
}

}  // namespace upd::wizard
