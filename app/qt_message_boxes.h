// Message boxes on screen: QMessageBox with the program's title, over the active window.
#pragma once

#include "app/message_boxes.h"

namespace upd::app {

class QtMessageBoxes final : public MessageBoxes {
  public:
    // Button texts follow the user's locale, as the system's own boxes do ("确定" and
    // "取消" for 2052, "OK" and "Cancel" otherwise).
    explicit QtMessageBoxes(platform::LangId userLocale);

    MessageAnswer show(std::string_view text, MessageButtons buttons, MessageIcon icon) override;

  private:
    platform::LangId m_userLocale;
};

}  // namespace upd::app
