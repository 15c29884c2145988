#include "engine/library_pump.h"

#include <QSocketNotifier>
#include <QTimer>

#include <utility>

namespace velnar {

LibraryPump::LibraryPump(WakeFn onWake) : m_onWake(std::move(onWake)) {}

LibraryPump::~LibraryPump() = default;

void LibraryPump::SetSocket(int socket, DueFn nextDue)
{
    if (socket != m_socket)
        m_readNotifier.reset();
    m_socket = socket;
    m_nextDue = std::move(nextDue);
}

void LibraryPump::EnableReading()
{
    if (m_readNotifier || m_socket < 0)
        return;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, m_readNotifier.get(),
                     [this] { m_onWake(); });
}

void LibraryPump::Arm()
{
    if (m_socket < 0)
        return;
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { m_onWake(); });
    }
    const int dueMs = m_nextDue ? m_nextDue() : -1;
    if (dueMs < 0)
        m_timer->stop();
    else
        m_timer->start(dueMs);
}

void LibraryPump::Stop()
{
    m_timer.reset();
    m_readNotifier.reset();
    m_socket = -1;
}

bool LibraryPump::IsReading() const
{
    return m_readNotifier != nullptr;
}

bool LibraryPump::IsArmed() const
{
    return m_timer && m_timer->isActive();
}

}  // namespace velnar
