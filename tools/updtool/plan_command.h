// `updtool plan`: the wizard's decision on what to download, from the command line, made by
// the same analysis and plan functions as the analysis page.
#pragma once

#include <string>
#include <vector>

// Runs with `args` (the arguments after "plan"). Prints one line per plan row,
// SOURCE<TAB>TARGET<TAB>DESCRIPTION, then "next<TAB>download|finish|stay". Exit status 0,
// 1 when the information cannot be analysed or the plan fails (the message on standard
// error), 2 for a usage error.
int runPlan(const std::vector<std::string>& args);
