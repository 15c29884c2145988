// Wakes the engine for the IAX library: socket readiness (from the first
// outgoing call on) and the library's earliest timer entry. Without the
// timer, a lost NEW would never be resent and a dead server would leave
// "Calling..." on the screen for ever.
#include "engine/iax_phone.h"

#include "iax/iax.h"

#include <QSocketNotifier>
#include <QTimer>

namespace velnar {

void CIaxPhone::EnableReadNotifications() {
    if (m_readNotifier || m_socket < 0)
        return;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated,
                     m_readNotifier.get(), [this] { OnLibraryWake(); });
}

void CIaxPhone::OnLibraryWake() {
    OnNetworkEvent();
    ReclaimPlayback();
}

// Re-armed after every drain and every send that may have queued a frame.
void CIaxPhone::ArmLibraryTimer() {
    if (m_socket < 0)
        return;
    if (!m_libraryTimer) {
        m_libraryTimer = std::make_unique<QTimer>();
        m_libraryTimer->setSingleShot(true);
        m_libraryTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_libraryTimer.get(), &QTimer::timeout,
                         m_libraryTimer.get(), [this] { OnLibraryWake(); });
    }
    int dueMs = IaxNextDueMs();
    if (dueMs < 0)
        m_libraryTimer->stop();
    else
        m_libraryTimer->start(dueMs);
}

}  // namespace velnar
