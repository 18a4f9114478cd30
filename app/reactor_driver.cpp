#include "app/reactor_driver.h"

#include <QSocketNotifier>
#include <limits>

#include "net/reactor.h"

namespace upd::app {

ReactorDriver::ReactorDriver(net::Reactor& reactor, QObject* parent)
    : QObject(parent), m_reactor(reactor) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { run(); });

    if (!m_reactor.open()) {
        return;
    }
    m_notifier = new QSocketNotifier(m_reactor.descriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { run(); });
    m_reactor.setScheduleChangedHook([this] { armTimer(); });
    armTimer();
}

ReactorDriver::~ReactorDriver() {
    m_reactor.setScheduleChangedHook(nullptr);
}

void ReactorDriver::run() {
    m_reactor.processReady();
    armTimer();
}

void ReactorDriver::armTimer() {
    const auto next = m_reactor.nextTimeoutMs();
    if (!next) {
        m_timer.stop();
        return;
    }
    const std::int64_t ms = std::min<std::int64_t>(*next, std::numeric_limits<int>::max());
    m_timer.start(static_cast<int>(std::max<std::int64_t>(ms, 0)));
}

}  // namespace upd::app
