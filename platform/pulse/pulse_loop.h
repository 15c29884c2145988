// The sound server library's main-loop interface (pa_mainloop_api) served by
// the Qt event loop of the thread that creates the loop: descriptors behind
// QSocketNotifiers, timed and deferred events behind QTimers. No thread of
// ours or of the library's runs; everything happens on that thread.
//
// The Qt event loop works whichever event dispatcher the application runs
// (the plain Unix one, GLib's, or an offscreen one), so nothing here depends
// on how Qt was built or started.
//
// Events freed while the loop is calling them out are released only when
// the call returns, so a callback may free its own event (the library does).
#pragma once

#include <pulse/mainloop-api.h>

#include <memory>
#include <vector>

class QTimer;

namespace velnar {

class PulseLoop {
public:
    PulseLoop();
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    pa_mainloop_api* Api() { return &m_api; }

    // Serves the loop's own events only (no other event of the thread) for
    // one round: waits up to `timeoutMs` for one of them to be due, then
    // calls out what is due. For a short bounded wait on the server without
    // running the rest of the program meanwhile.
    void Iterate(int timeoutMs);

    // Leaves the descriptors unread for `ms` milliseconds; whatever arrives
    // meanwhile is then served in one wake. For a caller that knows it needs
    // nothing from the server before then, against a server that sends in
    // small pieces. Timed events and writes are not held.
    void HoldReadsFor(int ms);
    bool IsHoldingReads() const { return m_holdingReads; }

    // Implementation, used by the event records.
    void DispatchIo(pa_io_event* event, pa_io_event_flags_t ready);
    void DispatchTime(pa_time_event* event);
    void DispatchDefers();
    void UpdateDeferTimer();

private:
    friend struct PulseLoopAccess;
    struct Dispatching;

    void CollectGarbage();
    int NextTimeoutMs(int capMs) const;

    pa_mainloop_api m_api{};
    std::vector<std::unique_ptr<pa_io_event>> m_ios;
    std::vector<std::unique_ptr<pa_time_event>> m_times;
    std::vector<std::unique_ptr<pa_defer_event>> m_defers;
    std::unique_ptr<QTimer> m_deferTimer;  // zero-interval while a defer is enabled
    std::unique_ptr<QTimer> m_holdTimer;   // ends a hold of the reads
    bool m_holdingReads = false;
    int m_dispatchDepth = 0;
    bool m_garbage = false;
};

}  // namespace velnar
