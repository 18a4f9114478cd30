// Closes the wizard without a question when the user did not ask for it: the desktop
// session ends (the session manager asks the program to save and quit) or the application
// is told to quit. The close table's "closed for any other reason" applies: no question,
// the exit routine runs.
#pragma once

#include <QObject>

namespace upd::wizard {
class Wizard;
}

namespace upd::app {

class SessionEndWatcher final : public QObject {
  public:
    // Watches `application` (the QGuiApplication; tests give any object that receives the
    // quit event) for as long as this object lives; both must outlive it.
    SessionEndWatcher(QObject& application, wizard::Wizard& wizard);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QObject& m_application;
    wizard::Wizard& m_wizard;
};

}  // namespace upd::app
