// `updtool fetch`: the download engine on the command line, for release engineers checking
// a server or a proxy and for black-box tests of the engine.
#pragma once

#include <string>
#include <vector>

// Runs one download as described by `args` (the arguments after "fetch"). Returns the exit
// status: 0 when the transfer ended with Disconnected and no failure was raised, 1
// otherwise (the failure's text on standard error), 2 for a usage error.
int runFetch(const std::vector<std::string>& args);
