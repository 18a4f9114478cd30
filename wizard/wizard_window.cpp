#include "wizard/wizard_window.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <vector>

#include "wizard/artwork.h"
#include "wizard/page.h"
#include "wizard/wizard.h"

namespace upd::wizard {

// A ring in the highlight colour around the control it follows, wherever that control
// goes. Only the ring is the widget (its mask), so the control inside stays visible and
// takes the mouse as before.
class FocusRing : public QWidget {
  public:
    explicit FocusRing(QWidget* window) : QWidget(window) {
        setObjectName("FocusRing");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

    // nullptr hides the ring.
    void follow(QWidget* target) {
        if (m_target != target) {
            if (m_target != nullptr) {
                m_target->removeEventFilter(this);
            }
            m_target = target;
            if (target != nullptr) {
                target->installEventFilter(this);
            }
        }
        if (target == nullptr) {
            hide();
            return;
        }
        place();  // again too: a page raised since may cover the ring
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_target) {
            if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                event->type() == QEvent::Show) {
                place();
            } else if (event->type() == QEvent::Hide) {
                hide();
            }
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Highlight));
    }

  private:
    void place() {
        const QRect inside(m_target->mapTo(parentWidget(), QPoint(0, 0)), m_target->size());
        setGeometry(inside.adjusted(-kWidth, -kWidth, kWidth, kWidth));
        setMask(
            QRegion(rect()).subtracted(QRegion(rect().adjusted(kWidth, kWidth, -kWidth, -kWidth))));
        raise();
        show();
    }

    static constexpr int kWidth = 2;
    QPointer<QWidget> m_target;
};

namespace {

// Styles mark the focus of buttons, check boxes and editable text boxes, but not of text and
// list areas (a list marks only its current row, and has none until the user picks one) nor
// of a read-only text box, which shows no cursor.
bool drawsNoFocus(const QWidget& widget) {
    if (qobject_cast<const QAbstractScrollArea*>(&widget) != nullptr) {
        return true;
    }
    const auto* box = qobject_cast<const QLineEdit*>(&widget);
    return box != nullptr && box->isReadOnly();
}

bool isEnter(const QKeyEvent& event) {
    Qt::KeyboardModifiers modifiers = event.modifiers();
    modifiers.setFlag(Qt::KeypadModifier, false);
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
           modifiers == Qt::NoModifier;
}

}  // namespace

WizardWindow::WizardWindow(Wizard& wizard) : QWidget(nullptr), m_wizard(wizard) {
    setObjectName("WizardWindow");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(artwork::programIcon());
    // Esc belongs to the page on screen; a modal dialog over the window keeps its own.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this,
            [this] { pressOnPage(m_page != nullptr ? m_page->escapeButton() : nullptr); });
    m_focusRing = new FocusRing(this);
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        m_focusChanges = connect(application, &QApplication::focusChanged, this,
                                 [this](QWidget*, QWidget* now) { followFocus(now); });
    }
}

// The pages go after this, and a focused control that goes moves the focus: by then the
// members that followFocus reads are gone.
WizardWindow::~WizardWindow() {
    disconnect(m_focusChanges);
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
    if (QWidget* focus = page.focusOnShow()) {
        focus->setFocus(Qt::OtherFocusReason);
    } else {
        page.setFocus(Qt::OtherFocusReason);
    }
    // An inactive window reports no focus change: follow the focus it will have.
    followFocus(focusWidget());
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

void WizardWindow::keyPressEvent(QKeyEvent* event) {
    // Here only when the focused control and the page let Enter through.
    if (isEnter(*event)) {
        event->accept();
        pressOnPage(m_page != nullptr ? m_page->defaultButton() : nullptr);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool WizardWindow::focusNextPrevChild(bool next) {
    if (m_page == nullptr) {
        return QWidget::focusNextPrevChild(next);
    }
    std::vector<QWidget*> stops = m_page->tabStops();
    std::erase_if(stops, [this](const QWidget* stop) {
        return !stop->isEnabled() || !stop->isVisibleTo(this);
    });
    if (stops.empty()) {
        return false;
    }
    const QWidget* focus = focusWidget();
    const auto at = std::find_if(stops.begin(), stops.end(), [focus](const QWidget* stop) {
        return focus != nullptr && (stop == focus || stop->isAncestorOf(focus));
    });
    const auto count = static_cast<std::ptrdiff_t>(stops.size());
    const std::ptrdiff_t index = at == stops.end()
                                     ? (next ? 0 : count - 1)
                                     : ((at - stops.begin()) + (next ? 1 : count - 1)) % count;
    stops[static_cast<std::size_t>(index)]->setFocus(next ? Qt::TabFocusReason
                                                          : Qt::BacktabFocusReason);
    return true;
}

void WizardWindow::pressOnPage(QPushButton* button) {
    if (button != nullptr && !m_wizard.processEnded() && button->isEnabled() &&
        button->isVisible()) {
        button->click();
    }
}

void WizardWindow::followFocus(QWidget* focus) {
    const bool onPage = m_page != nullptr && focus != nullptr && m_page->isAncestorOf(focus);
    m_focusRing->follow(onPage && drawsNoFocus(*focus) ? focus : nullptr);
    if (m_page == nullptr) {
        return;
    }
    // As in a dialog: a focused push button is the one Enter presses, so it is drawn as the
    // default meanwhile (Qt does that for auto-default buttons itself).
    if (QPushButton* byDefault = m_page->defaultButton()) {
        const auto* button = onPage ? qobject_cast<const QPushButton*>(focus) : nullptr;
        byDefault->setDefault(button == nullptr || button == byDefault);
    }
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_page && event->type() == QEvent::WindowTitleChange) {
        setWindowTitle(m_page->windowTitle());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace upd::wizard
