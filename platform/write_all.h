// Writing a whole buffer to a descriptor: short writes and interruptions are resumed, so a
// caller sees either every byte written or the errno of the write that failed.
#pragma once

#include <string_view>

namespace upd::platform {

// False with errno set when a write fails (EIO for a write that wrote nothing).
bool writeAll(int fd, std::string_view bytes);

}  // namespace upd::platform
