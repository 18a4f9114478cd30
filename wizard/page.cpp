#include "wizard/page.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "app/design_fonts.h"
#include "app/mnemonic.h"
#include "app/set_from_font.h"
#include "app/twips.h"
#include "controls/small_bar.h"
#include "net/data_connection.h"
#include "wizard/advertisement_view.h"
#include "wizard/artwork.h"
#include "wizard/failure_text.h"
#include "wizard/picture_box.h"
#include "wizard/wizard.h"
#include "wizard/wizard_window.h"

namespace upd::wizard {
namespace {

// The etched double lines: grey (128, 128, 128) over white, from x 0 to x 7080.
QWidget* makeLine(QWidget* parent, const char* name, int top, QColor colour) {
    auto* line = new QWidget(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setGeometry(QRect(0, app::twips(top), app::twips(7080), 1));
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    return line;
}

constexpr int kProgressName = 204;
constexpr int kAdvertisementName = 205;

// The Alt keys of the common buttons, by the design's names.
constexpr std::pair<std::string_view, char> kButtonKeys[] = {
    {"Next_Button", 'N'}, {"Back_Button", 'B'},  {"Cancel", 'C'},        {"Finish", 'F'},
    {"Auto", 'A'},        {"Retry_Button", 'R'}, {"Server_Button", 'S'},
};

char designKey(const QString& objectName) {
    for (const auto& [name, key] : kButtonKeys) {
        if (objectName == QLatin1String(name.data(), static_cast<qsizetype>(name.size()))) {
            return key;
        }
    }
    return '\0';
}

QString spoken(const QString& text) {
    return QString::fromStdString(app::spokenText(text.toStdString()));
}

// A scroll area's viewport or scroll bars, a combo box's editor: parts of another control,
// which is the Tab stop.
bool isPartOfAnotherControl(const QWidget& widget, const QWidget& page) {
    for (const QWidget* up = widget.parentWidget(); up != nullptr && up != &page;
         up = up->parentWidget()) {
        if ((up->focusPolicy() & Qt::TabFocus) != 0 ||
            qobject_cast<const QAbstractScrollArea*>(up) != nullptr) {
            return true;
        }
    }
    return false;
}

}  // namespace

app::ProgramWindow programWindowOf(PageId page) {
    return static_cast<app::ProgramWindow>(pageNumber(page));
}

Page::Page(Wizard& wizard, PageId id) : QWidget(&wizard.window()), m_wizard(wizard), m_id(id) {
    hide();  // a page is loaded hidden; the Wizard shows it
    setObjectName(
        QString::fromLatin1(formName(id).data(), static_cast<qsizetype>(formName(id).size())));
    const TwipsSize client = clientSizeTwips(id);
    setGeometry(QRect(QPoint(0, 0), app::twipsSize(client.width, client.height)));
    setFont(app::controlFont());
    setAutoFillBackground(true);

    Image1 = new PictureBox(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(app::twipsRect(0, 0, 7170, 810));
    Image1->setPicture(artwork::headerPicture());

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setFont(id == PageId::Welcome || id == PageId::Finish ? app::titleFontArial()
                                                                  : app::titleFontSimSun());
    Label1->setGeometry(app::twipsRect(360, 240, 2295, 240));

    const QColor grey(128, 128, 128);
    const QColor white(255, 255, 255);
    Line1[0] = makeLine(this, "Line1_0", 840, grey);
    Line1[1] = makeLine(this, "Line1_1", 855, white);
    Line1[2] = makeLine(this, "Line1_2", 5040, grey);
    Line1[3] = makeLine(this, "Line1_3", 5055, white);

    Picture1 = new PictureBox(this);
    Picture1->setObjectName("Picture1");
    Picture1->setGeometry(app::twipsRect(0, 960, 1875, 3960));
    Picture1->setPicture(artwork::sidePicture(id));
}

Page::~Page() = default;

QString Page::text(int id) const {
    return m_wizard.text(id);
}

QString Page::downloadFailureText(std::int32_t why, const net::DataConnection* connection) const {
    return failureSentence(describeTransfer(transferFacts(why, connection)));
}

QString Page::failureSentence(const FailureDescription& shown) const {
    QString sentence = text(shown.textId);
    for (const std::string& value : shown.values) {
        sentence = sentence.arg(QString::fromStdString(value));
    }
    if (!shown.trailing.empty()) {
        sentence += QLatin1Char(' ') + QString::fromStdString(shown.trailing);
    }
    // Not a sentence for the user: what the engine or the system said, for whoever helps.
    if (!shown.technical.empty()) {
        sentence +=
            QStringLiteral(" (") + QString::fromStdString(shown.technical) + QLatin1Char(')');
    }
    return sentence;
}

void Page::setTitleSize(int widthTwips, int heightTwips) {
    Label1->setGeometry(app::twipsRect(360, 240, widthTwips, heightTwips));
}

QGroupBox* Page::addFrame(int heightTwips) {
    auto* frame = new QGroupBox(this);
    frame->setObjectName("Frame1");
    frame->setGeometry(app::twipsRect(2040, 960, 4935, heightTwips));
    return frame;
}

QPushButton* Page::addButton(const char* name, int leftTwips) {
    auto* button = new QPushButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(app::twipsRect(leftTwips, 5280, 1215, 315));
    // Enter on a focused button presses it, as Space does.
    button->setAutoDefault(true);
    // The designs' default buttons: Enter presses them from any control that does not take
    // Enter itself (WizardWindow).
    if (std::string_view(name) == "Next_Button" || std::string_view(name) == "Finish") {
        m_defaultButton = button;
        button->setDefault(true);
    }
    return button;
}

QString Page::textWithMnemonic(int id, char key) const {
    return QString::fromStdString(
        app::withMnemonic(text(id).toStdString(), key, m_wizard.environment().userLocale));
}

void Page::prepareKeyboardAccess() {
    const QList<QAbstractButton*> buttons = findChildren<QAbstractButton*>();
    // The keys the page has: its texts' own, those set by the page, a frame's or a label's.
    std::string used;
    const auto note = [&used](const QString& text) {
        if (const char key = app::mnemonicKey(text.toStdString()); key != '\0') {
            used += key;
        }
    };
    for (const QAbstractButton* button : buttons) {
        note(button->text());
    }
    for (const QLabel* label : findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            note(label->text());
        }
    }
    for (const QGroupBox* frame : findChildren<QGroupBox*>()) {
        note(frame->title());
    }
    const platform::LangId locale = m_wizard.environment().userLocale;
    for (QAbstractButton* button : buttons) {
        const std::string shown = button->text().toStdString();
        if (shown.empty() || app::hasMnemonic(shown)) {
            continue;
        }
        char key = designKey(button->objectName());
        if (key == '\0' || used.find(key) != std::string::npos) {
            key = app::chooseMnemonicKey(shown, used);
        }
        if (key != '\0') {
            button->setText(QString::fromStdString(app::withMnemonic(shown, key, locale)));
            used += key;
        }
    }
    // Outside a dialog Qt presses only default and auto-default buttons with Enter.
    for (QAbstractButton* button : buttons) {
        if (auto* push = qobject_cast<QPushButton*>(button)) {
            push->setAutoDefault(true);
        }
        if (button->accessibleName().isEmpty() && !button->text().isEmpty()) {
            button->setAccessibleName(spoken(button->text()));
        }
    }
    // Labels first: a progress bar or advertisement that a label names keeps that name.
    for (const QLabel* label : findChildren<QLabel*>()) {
        QWidget* buddy = label->buddy();
        if (buddy != nullptr && buddy->accessibleName().isEmpty() && !label->text().isEmpty()) {
            buddy->setAccessibleName(spoken(label->text()));
        }
    }
    for (controls::SmallBar* bar : findChildren<controls::SmallBar*>()) {
        if (bar->accessibleName().isEmpty()) {
            bar->setAccessibleName(text(kProgressName));
        }
    }
    for (AdvertisementView* view : findChildren<AdvertisementView*>()) {
        if (view->accessibleName().isEmpty()) {
            view->setAccessibleName(text(kAdvertisementName));
        }
    }
    if (accessibleName().isEmpty()) {
        setAccessibleName(spoken(Label1->text()));
    }
}

std::vector<QWidget*> Page::tabStops() const {
    std::vector<QWidget*> stops;
    for (QWidget* widget : findChildren<QWidget*>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->focusProxy() == nullptr &&
            !widget->isWindow() && !isPartOfAnotherControl(*widget, *this)) {
            stops.push_back(widget);
        }
    }
    std::stable_sort(stops.begin(), stops.end(), [this](const QWidget* a, const QWidget* b) {
        const QPoint pa = a->mapTo(this, QPoint(0, 0));
        const QPoint pb = b->mapTo(this, QPoint(0, 0));
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
    });
    return stops;
}

QWidget* Page::focusOnShow() const {
    const auto usable = [this](const QWidget* widget) {
        return widget != nullptr && widget->isEnabled() && widget->isVisibleTo(this);
    };
    if (QWidget* focus = defaultFocus(); usable(focus)) {
        return focus;
    }
    if (usable(m_defaultButton)) {
        return m_defaultButton;
    }
    for (QWidget* stop : tabStops()) {
        if (usable(stop) && qobject_cast<const QAbstractButton*>(stop) == nullptr) {
            return stop;
        }
    }
    return usable(m_escapeButton) ? m_escapeButton : nullptr;
}

QLabel* Page::addLabel(QWidget* parent, const char* name, int left, int top, int width,
                       int height) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(app::twipsRect(left, top, width, height));
    return label;
}

void Page::callSetFromFont() {
    app::SetFromFont(*this, m_wizard.environment().userLocale);
}

bool Page::applyCloseRule(app::CloseTrigger trigger) {
    const app::CloseRule rule = app::closeRule(programWindowOf(m_id), trigger);
    if (rule.questionId != 0 && !m_wizard.confirm(rule.questionId)) {
        return false;
    }
    if (rule.runsCloseSub) {
        m_wizard.CloseSub(rule.force);
        if (rule.endsProcess && !m_wizard.processEnded()) {
            m_wizard.endProcess();
        }
    }
    return true;
}

bool Page::Form_QueryUnload(app::CloseTrigger trigger) {
    return applyCloseRule(trigger);
}

void Page::Cancel_Click() {
    applyCloseRule(app::CloseTrigger::CancelButton);
}

}  // namespace upd::wizard
