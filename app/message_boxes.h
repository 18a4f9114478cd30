// The program's message boxes. Every box goes through this interface, so tests can answer
// them; the Qt one is QtMessageBoxes (qt_message_boxes.h).
#pragma once

#include <string_view>

#include "platform/language.h"

namespace upd::app {

// The title of every message box: the program's title. The boxes have no caption of
// their own.
inline constexpr std::string_view kProgramTitle = "Update";

enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageIcon { None, Question, Critical };
enum class MessageAnswer { Ok, Cancel, Yes, No };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the button chosen. Closing the box without a button
    // (Esc, the close box) answers Cancel; No for a Yes/No box, Ok for a box with OK only.
    virtual MessageAnswer show(std::string_view text, MessageButtons buttons, MessageIcon icon) = 0;
};

// The confirmation of the exit routine and the download page: string `textId` in the
// user's language, OK and Cancel, the question icon. True when the user chose OK.
bool confirm(MessageBoxes& boxes, int textId, platform::LangId userLocale);

}  // namespace upd::app
