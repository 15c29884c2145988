// Wakes the engine for the IAX library: socket readiness (from the first
// outgoing call on) and the library's earliest timer entry. Without the
// timer, a lost NEW would never be resent and a dead server would leave
// "Calling..." on the screen for ever.
//
// The pump only wakes its owner; what a wake-up does (drain the library,
// reclaim played blocks) is the owner's business. It runs on the event loop
// of the thread that made it.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace velnar {

class LibraryPump {
public:
    using WakeFn = std::function<void()>;
    // Milliseconds until the library's earliest entry is due, -1 for none.
    using DueFn = std::function<int()>;

    explicit LibraryPump(WakeFn onWake);
    ~LibraryPump();
    LibraryPump(const LibraryPump&) = delete;
    LibraryPump& operator=(const LibraryPump&) = delete;

    // The library's socket and its timer list; until the socket is set
    // nothing is watched or timed. A new socket is watched afresh.
    void SetSocket(int socket, DueFn nextDue);
    // Watches the socket for datagrams from now on; asking again changes
    // nothing.
    void EnableReading();
    // Starts the timer for the library's earliest due entry, or stops it when
    // nothing is due: after every drain and every send that may have queued
    // a frame.
    void Arm();
    // Stops watching and timing for good (before the socket is closed).
    void Stop();

    bool IsReading() const;
    bool IsArmed() const;

private:
    WakeFn m_onWake;
    int m_socket = -1;
    DueFn m_nextDue;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QTimer> m_timer;
};

}  // namespace velnar
