// Module `SetFromFont`: every page hands itself over at the end of its Form_Load; the proxy
// dialog does not.
//
// The choice made here: each control that shows text (labels, buttons, check boxes, text
// boxes, drop-down lists, frames, lists) takes the face of the locale font table's row for
// the user's locale, but only where that face is installed, and keeps the size and weight
// of its design. Everywhere else (an English locale, a Chinese locale without the face
// installed) every control keeps its design font. Pictures, lines and progress bars have
// no font and are passed over.
#pragma once

#include <QWidget>
#include <functional>
#include <string_view>

#include "platform/language.h"

namespace upd::app {

// Whether the font database knows a face of this name.
bool isFontInstalled(std::string_view face);

void SetFromFont(QWidget& page, platform::LangId userLocale);

// As above, asking `isInstalled` instead of the font database.
void SetFromFont(QWidget& page, platform::LangId userLocale,
                 const std::function<bool(std::string_view)>& isInstalled);

}  // namespace upd::app
