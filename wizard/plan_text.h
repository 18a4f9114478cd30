// The download plan as text, one line per row, as `updtool plan` and `update-wizard --check`
// print it: SOURCE, TARGET, DESCRIPTION, the form the wizard would fetch (full, patch,
// compressed: a patch only when it was made against the installed file's bytes) and its
// announced size ("-" for none), separated by tabs. What comes from the server is printed with
// control bytes as \xNN, so a tab or an escape in it cannot forge a column or reach a terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wizard/download_plan.h"

namespace upd::wizard {

struct PlanRowText {
    std::string line;                  // without the line end
    std::optional<std::int64_t> size;  // of what would be fetched; nothing when unknown
};

// `appFolder` ends with '/'; the installed file is read (its digest) only when a patch is
// offered.
PlanRowText planRowText(const PlanRow& row, const std::string& appFolder);

}  // namespace upd::wizard
