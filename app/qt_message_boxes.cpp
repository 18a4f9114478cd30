#include "app/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace upd::app {
namespace {

struct ButtonTexts {
    const char* ok;
    const char* cancel;
    const char* yes;
    const char* no;
};

ButtonTexts buttonTexts(platform::LangId userLocale) {
    if (platform::languageProfile(userLocale).chinese) {
        return {"确定", "取消", "是(&Y)", "否(&N)"};
    }
    return {"OK", "Cancel", "&Yes", "&No"};
}

QMessageBox::Icon toQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QtMessageBoxes::QtMessageBoxes(platform::LangId userLocale) : m_userLocale(userLocale) {}

MessageAnswer QtMessageBoxes::show(std::string_view text, MessageButtons buttons,
                                   MessageIcon icon) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(
        QString::fromUtf8(kProgramTitle.data(), static_cast<qsizetype>(kProgramTitle.size())));
    // Texts quote the server's update information: never read as markup (a link would open).
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    box.setIcon(toQtIcon(icon));
    const ButtonTexts texts = buttonTexts(m_userLocale);
    switch (buttons) {
        case MessageButtons::Ok: {
            QPushButton* ok = box.addButton(QString::fromUtf8(texts.ok), QMessageBox::AcceptRole);
            box.setDefaultButton(ok);
            box.setEscapeButton(ok);
            box.exec();
            return MessageAnswer::Ok;
        }
        case MessageButtons::OkCancel: {
            QPushButton* ok = box.addButton(QString::fromUtf8(texts.ok), QMessageBox::AcceptRole);
            QPushButton* cancel =
                box.addButton(QString::fromUtf8(texts.cancel), QMessageBox::RejectRole);
            box.setDefaultButton(ok);
            box.setEscapeButton(cancel);
            box.exec();
            return box.clickedButton() == ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
        }
        case MessageButtons::YesNo: {
            // QMessageBox makes the one No button the escape button: Esc answers No.
            QPushButton* yes = box.addButton(QString::fromUtf8(texts.yes), QMessageBox::YesRole);
            QPushButton* no = box.addButton(QString::fromUtf8(texts.no), QMessageBox::NoRole);
            box.setDefaultButton(yes);
            box.exec();
            return box.clickedButton() == no ? MessageAnswer::No : MessageAnswer::Yes;
        }
    }
    return MessageAnswer::Cancel;
}

}  // namespace upd::app
