// The application folder: where the running program lies, with update.svr, proxy.ini and
// update.ini beside it.
#pragma once

#include <string>

namespace upd::platform {

// The running executable's folder with a trailing '/'. Empty when it cannot be determined.
std::string appFolder();

// The running executable's full path (its version is the updater's own). Empty when it
// cannot be determined.
std::string executablePath();

// `folder` with a trailing '/' added when it has none (an empty folder stays empty).
std::string withTrailingSeparator(std::string folder);

}  // namespace upd::platform
