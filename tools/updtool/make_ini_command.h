// `updtool make-ini`: update.ini for a release folder (wizard/update_ini_writer.h), checked
// with the same rules as `updtool lint` before it is written.
#pragma once

#include <string>
#include <vector>

// Exit status 0 when written (to standard output or -o FILE), 1 when the folder cannot be
// announced as it is or a file offered (--update-ver, --move-ver, --force-up) is not at hand
// to digest (every reason on standard error, nothing written), 2 for a usage error. Names
// from the folder are printed with their control bytes as \xNN.
int runMakeIni(const std::vector<std::string>& args);
