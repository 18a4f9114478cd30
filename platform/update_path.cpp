#include "platform/update_path.h"

#include <algorithm>
#include <cctype>

#include "platform/app_folder.h"
#include "platform/printable_text.h"

namespace upd::platform {
namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

UpdatePath hostPathUnder(std::string_view base, std::string_view name) {
    UpdatePath result;
    if (name.size() >= 2 && isSeparator(name[0]) && isSeparator(name[1])) {
        result.error = PathError::Unc;
        return result;
    }
    if (!name.empty() && isSeparator(name[0])) {
        result.error = PathError::Absolute;
        return result;
    }
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') {
        result.error = PathError::DriveLetter;
        return result;
    }
    std::string relative;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        std::size_t end = pos;
        while (end < name.size() && !isSeparator(name[end])) {
            ++end;
        }
        const std::string_view part = name.substr(pos, end - pos);
        if (part == "..") {
            result.error = PathError::ParentFolder;
            return result;
        }
        // ':' names an alternate stream on Windows and a drive elsewhere: never a plain file.
        // Control bytes (an escape sequence, a line break) would reach terminals and logs.
        if (part.find(':') != std::string_view::npos ||
            std::any_of(part.begin(), part.end(),
                        [](char c) { return isControlByte(static_cast<unsigned char>(c)); })) {
            result.error = PathError::BadCharacter;
            return result;
        }
        if (!part.empty() && part != ".") {
            if (!relative.empty()) {
                relative += '/';
            }
            relative += part;
        }
        pos = end + 1;
    }
    if (relative.empty()) {
        result.error = PathError::Empty;
        return result;
    }
    result.path = withTrailingSeparator(std::string(base)) + relative;
    return result;
}

const char* describe(PathError error) {
    switch (error) {
        case PathError::None:
            return "no error";
        case PathError::Empty:
            return "the name is empty";
        case PathError::Absolute:
            return "the name is an absolute path";
        case PathError::DriveLetter:
            return "the name starts with a drive letter";
        case PathError::Unc:
            return "the name is a network (UNC) path";
        case PathError::ParentFolder:
            return "the name leads out of its folder (\"..\")";
        case PathError::BadCharacter:
            return "the name holds a character that a file name cannot have (':' or a control "
                   "character)";
    }
    return "unknown error";
}

}  // namespace upd::platform
