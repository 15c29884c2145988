// Holds a program's exit until the far end has acknowledged every hang-up,
// for a bounded time: a HANGUP that is lost while the program is already
// gone would leave the other party's call up until their server gives up.
#pragma once

#include <QTimer>

#include <functional>

namespace velnar {

class HangUpWait {
public:
    using DoneFn = std::function<void()>;

    using CountFn = std::function<int()>;

    // unacknowledged counts the hang-ups still waiting for their
    // acknowledgement.
    explicit HangUpWait(CountFn unacknowledged);

    // done runs once: as soon as no hang-up awaits its acknowledgement (at
    // once when none does) or when maxMs have passed, whichever is first.
    // A second Start while one waits replaces nothing: the first one stands.
    void Start(int maxMs, DoneFn done);
    // To be called whenever the library may have taken an acknowledgement.
    void Check();
    bool IsWaiting() const { return static_cast<bool>(m_done); }

private:
    void Finish();

    CountFn m_unacknowledged;
    DoneFn m_done;
    QTimer m_deadline;
};

}  // namespace velnar
