#include "wizard/page.h"

#include <QGroupBox>
#include <QLabel>
#include <QPalette>

#include "app/design_fonts.h"
#include "app/set_from_font.h"
#include "app/twips.h"
#include "net/data_connection.h"
#include "net/failure_code.h"
#include "wizard/artwork.h"
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
    constexpr int kSecureConnectionFailed = 171;
    QString shown = why == net::toWhy(net::FailureCode::TlsFailed)
                        ? text(kSecureConnectionFailed)
                        : QString::fromStdString(net::FailureToString(why));
    if (connection != nullptr && !connection->lastFailureDetail().empty()) {
        shown += QStringLiteral(" (") + QString::fromStdString(connection->lastFailureDetail()) +
                 QLatin1Char(')');
    }
    return shown;
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
    return button;
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
