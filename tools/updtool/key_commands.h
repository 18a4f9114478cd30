// `updtool keygen`, `sign` and `verify`: the vendor's Ed25519 key pair, the signature of an
// update.ini, and the check the wizard makes of it (wizard/signed_info.h).
#pragma once

#include <string>
#include <vector>

// keygen PREFIX: writes PREFIX.key (the secret key, mode 0600) and PREFIX.pub (the line for
// update.pub). Never overwrites: an existing PREFIX.key or PREFIX.pub is an error.
int runKeygen(const std::vector<std::string>& args);

// sign --key FILE.key UPDATE_INI: writes UPDATE_INI.sig, beside and renamed into place.
int runSign(const std::vector<std::string>& args);

// verify --pub FILE.pub UPDATE_INI: checks UPDATE_INI.sig. Exit status 0 when the signature
// holds, 1 otherwise with the reason on standard error, 2 for a usage error.
int runVerify(const std::vector<std::string>& args);
