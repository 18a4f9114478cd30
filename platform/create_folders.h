// Creating a folder and every missing level above it, as the wizard does for the update
// folder and for the sub-folders that entries of an update name.
#pragma once

#include <string>

namespace upd::platform {

// Creates each missing level of `path` (mode 0755 less the umask). A level that exists
// already is fine. Returns 0 on success, or the errno of the level that could not be
// created (a file in the way gives ENOTDIR or EEXIST).
int createFolders(const std::string& path);

}  // namespace upd::platform
