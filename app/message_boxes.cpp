#include "app/message_boxes.h"

#include "app/string_table.h"

namespace upd::app {

bool confirm(MessageBoxes& boxes, int textId, platform::LangId userLocale) {
    return boxes.show(LoadResString(textId, userLocale), MessageButtons::OkCancel,
                      MessageIcon::Question) == MessageAnswer::Ok;
}

}  // namespace upd::app
