// The wizard's one top-level window: a fixed-size frame without minimise or maximise box
// that shows the page on screen, takes the page's caption and client size, and passes the
// close box to the Wizard.
//
// The keyboard on the page on screen, as in a dialog:
//   - Esc presses the page's escape button (Cancel; Finish on page 5), so the page asks what
//     Cancel asks; a modal dialog over the window keeps its own Esc;
//   - Enter that the focused control does not take (a push button takes it and presses
//     itself) presses the page's default button (Next; Finish on page 5);
//   - a key presses a button only while the user could click it;
//   - Tab and Shift+Tab go through the page's tabStops(), top to bottom;
//   - the default button is drawn as such except while another push button has the focus;
//   - a focused control whose style draws no focus of its own (a text or list area, a
//     read-only text box) gets a ring around it.
#pragma once

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace upd::wizard {

class FocusRing;
class Page;
class Wizard;

class WizardWindow : public QWidget {
    Q_OBJECT

  public:
    explicit WizardWindow(Wizard& wizard);
    ~WizardWindow() override;

    // Takes the page's client size and caption and shows it; the page left behind is
    // hidden by the caller.
    void showPage(Page& page);
    // Centres the window on its screen.
    void centreOnScreen();
    // Closes the window for good, when the program's last page has gone.
    void closeByProgram();

  protected:
    // A close that the program did not start is the user's (close box, system menu,
    // Alt+F4): the Wizard asks the page; the window itself never closes here.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    // Draws the default button and the focus ring for the control that has the focus now.
    void followFocus(QWidget* focus);
    // Clicks a button of the page on screen when it is shown and enabled.
    void pressOnPage(QPushButton* button);

    Wizard& m_wizard;
    QPointer<Page> m_page;
    FocusRing* m_focusRing = nullptr;  // a child of the window, above the pages
    QMetaObject::Connection m_focusChanges;
    bool m_closingByProgram = false;
};

}  // namespace upd::wizard
