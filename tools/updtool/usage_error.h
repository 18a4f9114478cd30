// The message every updtool command prints when its command line is wrong.
#pragma once

#include <string_view>

namespace updtool {

// Prints "updtool COMMAND: MESSAGE", a blank line and USAGE on standard error and returns
// the usage exit status. An empty COMMAND stands for updtool itself.
int usageError(std::string_view command, std::string_view message, std::string_view usage);

}  // namespace updtool
