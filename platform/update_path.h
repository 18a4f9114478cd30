// Turns a file name that came from the network (update.ini: "sub\dir\file.dll") into a path
// under a local folder, refusing anything that could reach outside that folder.
#pragma once

#include <string>
#include <string_view>

namespace upd::platform {

enum class PathError {
    None,
    Empty,         // "" or only separators
    Absolute,      // "\x", "/x"
    DriveLetter,   // "C:x", "C:\x"
    Unc,           // "\\server\share"
    ParentFolder,  // a ".." component
    BadCharacter,  // ':' or a control byte (below 0x20, NUL included, or 0x7F)
};

struct UpdatePath {
    std::string path;  // base folder + the name's components joined with '/'
    PathError error = PathError::None;

    explicit operator bool() const { return error == PathError::None; }
};

// `base` is a folder (a trailing '/' is added when missing). Both '\' and '/' separate
// components; "." and empty components are dropped.
UpdatePath hostPathUnder(std::string_view base, std::string_view name);

// A short English description of the error, for messages and logs of the tools.
const char* describe(PathError error);

}  // namespace upd::platform
