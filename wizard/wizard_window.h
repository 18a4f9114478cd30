// The wizard's one top-level window: a fixed-size frame without minimise or maximise box
// that shows the page on screen, takes the page's caption and client size, and passes the
// close box and Esc to the Wizard.
#pragma once

#include <QPointer>
#include <QWidget>

namespace upd::wizard {

class Page;
class Wizard;

class WizardWindow : public QWidget {
    Q_OBJECT

  public:
    explicit WizardWindow(Wizard& wizard);

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

  private:
    Wizard& m_wizard;
    QPointer<Page> m_page;
    bool m_closingByProgram = false;
};

}  // namespace upd::wizard
