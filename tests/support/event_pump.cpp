#include "tests/support/event_pump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace velnar::test {

bool PumpUntil(const std::function<bool()>& done, int maxWaitMs)
{
    QDeadlineTimer deadline(maxWaitMs);
    // A ticking timer makes sure the blocking wait wakes up to look at the
    // condition and the deadline even when nothing else happens.
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpBriefly()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace velnar::test
