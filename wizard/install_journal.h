// The installation journal (APP/update/install.journal): what an installation will change,
// written whole before the first change and read back, as hostile input, by the recovery.
// Failures are values: an InstallFailure, or a journal that is missing or refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wizard/install_layout.h"
#include "wizard/installation.h"

namespace upd::wizard::install_detail {

struct Step {
    std::string name;    // as the caller gave it, for messages
    std::string source;  // relative to the update folder, components joined with '/'
    std::string target;  // relative to the application folder
    bool existed = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The download's identity: a target with it holds the file this installation moved there.
    std::uint64_t newDevice = 0;
    std::uint64_t newInode = 0;
};

// What the file holds; its format is drawn in install_journal.cpp.
struct Journal {
    std::string token;
    bool committed = false;
    std::vector<Step> steps;
    std::vector<std::string> folders;
};

struct LoadedJournal {
    bool found = false;
    std::optional<Journal> journal;
    std::optional<InstallFailure> failure;
};

// Written beside and renamed into place, then the update folder synced: the journal on disk
// is always a whole one.
std::optional<InstallFailure> writeJournal(const Layout& layout, const Journal& journal);

// `found` false: no journal, nothing to recover. Found but `journal` empty: unreadable or
// refused (`failure` says why), to be set aside by the caller rather than replayed.
LoadedJournal loadJournal(const Layout& layout);

// True when `relative` under `base` does not lead out of `base` through a link: the real
// path of its deepest existing level lies within base's real path. "lib/x" with lib -> lib64
// (a folder of the application) stays inside; lib -> /usr/lib does not.
bool staysInside(const std::string& base, const std::string& relative);

// Whether a target lies in the update folder, which neither a plan nor a journal may name.
bool inUpdateFolder(const std::string& target);

}  // namespace upd::wizard::install_detail
