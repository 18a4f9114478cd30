// What the finish page tells the user that the update did, when the advertisement area has
// nothing else to show: the files installed, that the application was already up to date,
// that the new updater or the installation package was started. Toolkit-free: the page
// draws it, and an unattended run may print it.
//
// The sentence is a string-table id (in the user's language through the page's text(id) or
// app::LoadResString); the names follow it, one a line, made printable (a line break in a
// name would read as two files).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wizard/finish_update.h"

namespace upd::wizard {

inline constexpr int kSummaryFilesInstalled = 195;  // "These files were installed:"
inline constexpr int kSummaryAlreadyCurrent = 196;
inline constexpr int kSummaryUpdaterStarted = 197;
inline constexpr int kSummaryPackageOpened = 198;
inline constexpr int kSummaryAccessibleName = 199;  // the name of the area that shows it

struct FinishSummary {
    int textId = 0;
    std::vector<std::string> names;  // the files installed; empty after the other sentences
};

// `names`: the files downloaded, as the finish page's list holds them. nullopt when nothing
// was installed or started: the page tells that failure itself. A new updater that could not
// be started leaves its files installed, and those are what the summary says.
std::optional<FinishSummary> finishSummary(const FinishResult& result,
                                           const std::vector<std::string>& names);

}  // namespace upd::wizard
