#include "wizard/wizard_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

#include "wizard/artwork.h"
#include "wizard/page.h"
#include "wizard/wizard.h"

namespace upd::wizard {

WizardWindow::WizardWindow(Wizard& wizard) : QWidget(nullptr), m_wizard(wizard) {
    setObjectName("WizardWindow");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(artwork::programIcon());
    // Esc belongs to the page on screen; a modal dialog over the window keeps its own.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { m_wizard.escapePressed(); });
}

void WizardWindow::showPage(Page& page) {
    if (m_page != nullptr && m_page != &page) {
        m_page->removeEventFilter(this);
    }
    m_page = &page;
    page.installEventFilter(this);
    setFixedSize(page.size());
    setWindowTitle(page.windowTitle());
    page.show();
    page.raise();
    QWidget* focus = page.defaultFocus();
    if (focus != nullptr && focus->isEnabled() && focus->isVisibleTo(&page)) {
        focus->setFocus(Qt::OtherFocusReason);
    } else {
        page.setFocus(Qt::OtherFocusReason);
    }
}

void WizardWindow::centreOnScreen() {
    QScreen* target = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (target == nullptr) {
        return;
    }
    QRect area(QPoint(0, 0), frameGeometry().size());
    area.moveCenter(target->availableGeometry().center());
    move(area.topLeft());
}

void WizardWindow::closeByProgram() {
    m_closingByProgram = true;
    close();
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (m_closingByProgram) {
        event->accept();
        return;
    }
    event->ignore();
    m_wizard.closeBoxPressed();
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_page && event->type() == QEvent::WindowTitleChange) {
        setWindowTitle(m_page->windowTitle());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace upd::wizard
