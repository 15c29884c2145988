// Call figures: feeding the call's statistics from the library and timing
// the lag requests that measure the round trip.
#include "engine/iax_phone.h"

#include "engine/steady_ms.h"

#include <QTimer>

namespace velnar {

namespace {

constexpr int kDefaultLagIntervalMs = 10000;

}  // namespace

void CIaxPhone::OnVoiceArrival(LinkCall session, uint32_t format, int frames, uint32_t timestampMs,
                               uint32_t arrivalMs)
{
    const PhoneCall* call = m_pCurrentCall;
    if (!call || session != call->session)
        return;
    m_stats.FrameArrived(static_cast<int>(format), frames, timestampMs, arrivalMs);
}

CallFigures CIaxPhone::Figures() const
{
    CallFigures figures = m_stats.Figures(SteadyMs());
    figures.bufferDelayMs = m_pCurrentCall && m_pCurrentCall->session && m_link
                                ? m_link->JitterMs(m_pCurrentCall->session)
                                : -1;
    return figures;
}

QTimer& CIaxPhone::LagTimer()
{
    if (!m_lagTimer) {
        m_lagTimer = std::make_unique<QTimer>();
        m_lagTimer->setInterval(kDefaultLagIntervalMs);
        QObject::connect(m_lagTimer.get(), &QTimer::timeout, m_lagTimer.get(),
                         [this] { SendLagRequest(); });
    }
    return *m_lagTimer;
}

void CIaxPhone::SetLagIntervalMs(int ms)
{
    LagTimer().setInterval(ms);
}

// The duration runs from here; every interval a lag request measures the
// round trip, its reply lands in the figures.
void CIaxPhone::CallAnswered()
{
    m_stats.Connected(SteadyMs());
    if (!LagTimer().isActive())
        LagTimer().start();
}

void CIaxPhone::CallOver()
{
    m_stats.Ended(SteadyMs());
    if (m_lagTimer)
        m_lagTimer->stop();
}

void CIaxPhone::SendLagRequest()
{
    if (!m_pCurrentCall || !m_pCurrentCall->session)
        return;
    m_link->RequestLag(m_pCurrentCall->session);
    ArmLibraryTimer();
}

}  // namespace velnar
