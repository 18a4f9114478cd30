#include "wizard/plan_text.h"

#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "wizard/file_forms.h"

namespace upd::wizard {

PlanRowText planRowText(const PlanRow& row, const std::string& appFolder) {
    std::string installed;
    if (offersPatch(row.forms)) {
        if (const platform::UpdatePath path =
                platform::hostPathUnder(appFolder.substr(0, appFolder.size() - 1), row.target)) {
            installed = sha256FileHex(path.path).value_or("");
        }
    }
    const std::optional<FileForm> form = chooseForm(row.forms, installed);
    PlanRowText text;
    text.size = form ? std::optional(form->size) : row.size;
    text.line = platform::printableText(row.source) + '\t' + platform::printableText(row.target) +
                '\t' + platform::printableText(row.description) + '\t' + formWord(form) + '\t' +
                (text.size ? std::to_string(*text.size) : std::string("-"));
    return text;
}

}  // namespace upd::wizard
