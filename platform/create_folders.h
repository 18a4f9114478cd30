// Creating a folder and every missing level above it, as the wizard does for the update
// folder, for the sub-folders that entries of an update name, and for the installer's backups.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/link_policy.h"

namespace upd::platform {

// Creates each missing level of `relativeFolder` ("a/b" or "a/b/") under `base`, which must
// exist and is taken as it is. A level that exists already is fine when it is a folder; with
// LinkPolicy::NoFollow a link there is refused (ELOOP) even when it names a folder, with
// Follow a link to a folder is used. Returns 0, or the errno of the level that failed (a file
// in the way gives ENOTDIR).
int createFoldersUnder(const std::string& base, std::string_view relativeFolder, mode_t mode,
                       LinkPolicy links);

// 0 when no level of `relativePath` under `base` (the last one included) is a symbolic link;
// ELOOP when one is. Levels that do not exist yet end the check: nothing lies below them.
int linkAlong(const std::string& base, std::string_view relativePath);

}  // namespace upd::platform
