#include "app/font_choice.h"

#include "app/string_table.h"

namespace upd::app {

std::optional<std::string> localeFaceFor(platform::LangId userLocale,
                                         const std::function<bool(std::string_view)>& isInstalled) {
    const LocaleFont font = localeFontFor(userLocale);
    if (font.faceName.empty() || !isInstalled || !isInstalled(font.faceName)) {
        return std::nullopt;
    }
    return std::string(font.faceName);
}

}  // namespace upd::app
