#include "app/set_from_font.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>

#include "app/font_choice.h"

namespace upd::app {
namespace {

bool showsText(const QWidget* widget) {
    return qobject_cast<const QLabel*>(widget) != nullptr ||
           qobject_cast<const QAbstractButton*>(widget) != nullptr ||
           qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QComboBox*>(widget) != nullptr ||
           qobject_cast<const QGroupBox*>(widget) != nullptr ||
           qobject_cast<const QAbstractItemView*>(widget) != nullptr ||
           qobject_cast<const QTextEdit*>(widget) != nullptr;
}

}  // namespace

bool isFontInstalled(std::string_view face) {
    return QFontDatabase::hasFamily(
        QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size())));
}

void SetFromFont(QWidget& page, platform::LangId userLocale) {
    SetFromFont(page, userLocale, isFontInstalled);
}

void SetFromFont(QWidget& page, platform::LangId userLocale,
                 const std::function<bool(std::string_view)>& isInstalled) {
    const std::optional<std::string> face = localeFaceFor(userLocale, isInstalled);
    if (!face) {
        return;
    }
    const QString family = QString::fromStdString(*face);
    for (QWidget* control : page.findChildren<QWidget*>()) {
        if (!showsText(control)) {
            continue;
        }
        QFont font = control->font();
        font.setFamilies({family});
        control->setFont(font);
    }
}

}  // namespace upd::app
