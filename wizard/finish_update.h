// What the finish page does with the files that the download page fetched, decided from the
// plan's rows: nothing (an empty plan), install the files, install the new updater and
// start it, or open the full package. Toolkit-free; the page and unattended runs call it.
//
// Installation is all or nothing (installation.h). The updater's set goes in as one: the
// downloaded update.exe becomes reupdate.exe beside the program, FileMove.exe (when planned)
// replaces the installed one, and only then is reupdate.exe started.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wizard/installation.h"

namespace upd::wizard {

struct FinishRow {
    std::string source;  // page 3's PlanList: relative to the server, or a complete URL
    std::string name;    // page 4's file list: relative to the update folder
};

enum class FinishKind { Nothing, Files, Updater, FullPackage };

struct FinishResult {
    FinishKind kind = FinishKind::Nothing;
    // The installation failed and changed nothing.
    std::optional<InstallFailure> failure;
    // The updater or the opener could not be started (errno); the files are in place.
    int startError = 0;
    std::vector<std::string> installed;

    explicit operator bool() const { return !failure && startError == 0; }
};

FinishKind finishKindOf(const std::vector<FinishRow>& rows);

// The name `row` is installed under in the application folder: the new updater (update.exe
// from a complete URL, in an updater plan) as reupdate.exe beside the running one, any other
// row as its own.
std::string installedName(const FinishRow& row, FinishKind kind);

// `appFolder` with a trailing '/'.
FinishResult finishUpdate(const std::string& appFolder, const std::vector<FinishRow>& rows);

}  // namespace upd::wizard
