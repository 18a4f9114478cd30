// `updtool make-ini`: update.ini for a release folder (wizard/update_ini_writer.h), checked
// with the same rules as `updtool lint` before it is written.
#pragma once

#include <string>
#include <vector>

// Exit status 0 when written (to standard output or -o FILE), 1 when the folder cannot be
// announced as it is (every reason on standard error), 2 for a usage error.
int runMakeIni(const std::vector<std::string>& args);
