// The module values that the wizard's pages share. Everything else that one page leaves
// for another lives in the page's controls (the chosen address in page 1's `Text1`, the
// download plan in page 3's and page 4's lists, ...).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/language.h"
#include "publishing/signed_info.h"

namespace upd::wizard {

struct SharedState {
    // The system default language, recorded once at start-up; 2052 selects the Chinese
    // variants (server records, contents, advertisement page). Read by pages 3 and 5.
    platform::LangId LangID = 0;
    // Path of the update information file relative to the server address (field 2 of the
    // last line of update.svr); empty when the file is missing. Read by page 2.
    std::string InfoFile;
    // Set by page 3's Next to ask page 4 to start the file downloads; cleared by page 4.
    bool StartPending = false;
    // The vendor's keys (update.pub beside the program: one or more), read by page 2; empty
    // when none is installed. With a key, page 2 also fetches the information's signature
    // (InfoFile + ".sig") into InfoSignature (nothing when it could not be fetched), and page 3
    // uses only information that one of the keys verifies.
    std::vector<PublicKey> InfoKey;
    std::optional<std::string> InfoSignature;
    // `--check`: the information is judged and planned, never recorded as accepted.
    bool CheckOnly = false;
};

}  // namespace upd::wizard
