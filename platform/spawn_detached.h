// Starting a program without waiting for it, never through a shell: the new updater
// (reupdate.exe) and the desktop's opener for the full package.
#pragma once

#include <string>
#include <vector>

namespace upd::platform {

// Starts `program` with `arguments` (argv[1]...) in `workingFolder` (empty: this process's
// own), in a session of its own so that it outlives this program. `program` is a path, or
// with `searchPath` a name without '/' looked up in PATH, here, before the working folder
// changes: only absolute PATH entries count (empty and relative ones, which would name the
// working folder, are skipped), and only a regular file this process may run; PATH unset
// means "/bin:/usr/bin". A name with a '/' is used as it is. Returns 0 once the program
// runs, or the errno of the failure (ENOENT when the search finds nothing, no run bit, ...).
int spawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder, bool searchPath);

// Hands `path` to the desktop's opener (xdg-open), as opening a file from the file manager
// does. Returns 0 once the opener runs, or the errno of the failure.
int openWithDesktop(const std::string& path, const std::string& workingFolder);

}  // namespace upd::platform
