// Runs the download engine's reactor from Qt's event loop: one notifier on the reactor's
// descriptor (sockets and timers become readable there) and one single-shot QTimer for the
// reactor's next time-out, re-armed after every run and whenever the timers change. One
// thread and one event mechanism: the engine's events arrive between paints and clicks.
// A transfer that is always ready to read cannot starve the window: the download object
// yields after a few milliseconds of receiving, and the loop handles what else waits.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace upd::net {
class Reactor;
}

namespace upd::app {

class ReactorDriver final : public QObject {
  public:
    // Opens the reactor. It must outlive the driver.
    explicit ReactorDriver(net::Reactor& reactor, QObject* parent = nullptr);
    ~ReactorDriver() override;
    ReactorDriver(const ReactorDriver&) = delete;
    ReactorDriver& operator=(const ReactorDriver&) = delete;

    // False when the reactor could not be opened (descriptor limit): downloads then fail.
    bool attached() const { return m_notifier != nullptr; }

  private:
    void run();
    void armTimer();

    net::Reactor& m_reactor;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_timer;  // the reactor's next time-out
};

}  // namespace upd::app
