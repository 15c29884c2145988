#include "engine/hang_up_wait.h"

#include <utility>

namespace velnar {

HangUpWait::HangUpWait(CountFn unacknowledged) : m_unacknowledged(std::move(unacknowledged))
{
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, &m_deadline, [this] { Finish(); });
}

void HangUpWait::Start(int maxMs, DoneFn done)
{
    if (m_done)
        return;
    m_done = std::move(done);
    m_deadline.start(maxMs);
    Check();
}

void HangUpWait::Check()
{
    if (m_done && m_unacknowledged() == 0)
        Finish();
}

void HangUpWait::Finish()
{
    m_deadline.stop();
    // Taken out first: what it runs may start another wait.
    DoneFn done = std::exchange(m_done, nullptr);
    if (done)
        done();
}

}  // namespace velnar
