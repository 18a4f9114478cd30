#include "tools/updtool/usage_error.h"

#include <iostream>

#include "platform/printable_text.h"
#include "tools/updtool/exit_status.h"

namespace updtool {

int usageError(std::string_view command, std::string_view message, std::string_view usage) {
    std::cerr << "updtool" << (command.empty() ? "" : " ") << command << ": "
              << upd::platform::printableText(message) << "\n\n"
              << usage;
    return kExitUsage;
}

}  // namespace updtool
