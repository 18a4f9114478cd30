// `updtool lint`: what in an update.ini the wizard would trip on (wizard/update_ini_lint.h).
#pragma once

#include <string>
#include <vector>

// Prints one finding per line, "LINE: problem. fix: ..." ("LINE: warning: ..." for a
// warning). Exit status 1 when there is an error (or the file cannot be read), 0 when there
// are only warnings or nothing, 2 for a usage error. With --signed, or UPDATE_INI.sig beside
// the file, a download without its digest is an error. Names and values quoted from the file
// are printed with their control bytes as \xNN.
int runLint(const std::vector<std::string>& args);
