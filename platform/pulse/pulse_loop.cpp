#include "platform/pulse/pulse_loop.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>

#include <poll.h>
#include <sys/time.h>

// The library keeps these types opaque; each main-loop implementation
// defines them.
struct pa_io_event {
    velnar::PulseLoop* loop = nullptr;
    int fd = -1;
    pa_io_event_flags_t events = PA_IO_EVENT_NULL;
    pa_io_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_io_event_destroy_cb_t destroy = nullptr;
    bool dead = false;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct pa_time_event {
    velnar::PulseLoop* loop = nullptr;
    pa_time_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_time_event_destroy_cb_t destroy = nullptr;
    bool dead = false;
    bool enabled = false;
    timeval due{};  // as the library gave it
    std::unique_ptr<QTimer> timer;
};

struct pa_defer_event {
    velnar::PulseLoop* loop = nullptr;
    pa_defer_event_cb_t callback = nullptr;
    void* userdata = nullptr;
    pa_defer_event_destroy_cb_t destroy = nullptr;
    bool dead = false;
    bool enabled = false;
};

namespace velnar {

namespace {

// The library marks times on the monotonic clock with this bit in tv_usec;
// others are wall-clock times.
constexpr suseconds_t kMonotonicTimeBit = suseconds_t{1} << 30;

PulseLoop* LoopOf(pa_mainloop_api* api)
{
    return static_cast<PulseLoop*>(api->userdata);
}

int64_t NowUs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

// Milliseconds until the time, rounded up so that a timer is never early;
// 0 when it is due.
int MsUntil(const timeval& due)
{
    const bool monotonic = (due.tv_usec & kMonotonicTimeBit) != 0;
    const int64_t dueUs = int64_t{due.tv_sec} * 1000000 + (due.tv_usec & ~kMonotonicTimeBit);
    const int64_t leftUs = dueUs - NowUs(monotonic ? CLOCK_MONOTONIC : CLOCK_REALTIME);
    if (leftUs <= 0)
        return 0;
    return int(std::min<int64_t>((leftUs + 999) / 1000, std::numeric_limits<int>::max()));
}

short PollEventsFor(pa_io_event_flags_t events)
{
    short wanted = 0;
    if (events & PA_IO_EVENT_INPUT)
        wanted |= POLLIN;
    if (events & PA_IO_EVENT_OUTPUT)
        wanted |= POLLOUT;
    return wanted;
}

pa_io_event_flags_t FlagsFor(short revents)
{
    int flags = PA_IO_EVENT_NULL;
    if (revents & POLLIN)
        flags |= PA_IO_EVENT_INPUT;
    if (revents & POLLOUT)
        flags |= PA_IO_EVENT_OUTPUT;
    if (revents & POLLHUP)
        flags |= PA_IO_EVENT_HANGUP;
    if (revents & (POLLERR | POLLNVAL))
        flags |= PA_IO_EVENT_ERROR;
    return pa_io_event_flags_t(flags);
}

void EnableNotifiers(pa_io_event* e)
{
    if (e->read)
        e->read->setEnabled(!e->dead && (e->events & PA_IO_EVENT_INPUT) &&
                            !e->loop->IsHoldingReads());
    if (e->write)
        e->write->setEnabled(!e->dead && (e->events & PA_IO_EVENT_OUTPUT));
}

// A read notifier also fires on a hang-up or an error: reading then tells
// the library what happened.
std::unique_ptr<QSocketNotifier> MakeNotifier(pa_io_event* e, QSocketNotifier::Type type)
{
    auto notifier = std::make_unique<QSocketNotifier>(e->fd, type);
    notifier->setEnabled(false);
    const pa_io_event_flags_t ready =
        type == QSocketNotifier::Read ? PA_IO_EVENT_INPUT : PA_IO_EVENT_OUTPUT;
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [e, ready] { e->loop->DispatchIo(e, ready); });
    return notifier;
}

void ArmTimer(pa_time_event* e)
{
    if (!e->enabled || e->dead) {
        e->timer->stop();
        return;
    }
    e->timer->start(MsUntil(e->due));
}

}  // namespace

// The table of functions handed to the library.
struct PulseLoopAccess {
    static pa_io_event* IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                              pa_io_event_cb_t callback, void* userdata)
    {
        PulseLoop* loop = LoopOf(api);
        auto e = std::make_unique<pa_io_event>();
        e->loop = loop;
        e->fd = fd;
        e->callback = callback;
        e->userdata = userdata;
        e->read = MakeNotifier(e.get(), QSocketNotifier::Read);
        e->write = MakeNotifier(e.get(), QSocketNotifier::Write);
        IoEnable(e.get(), events);
        loop->m_ios.push_back(std::move(e));
        return loop->m_ios.back().get();
    }

    static void IoEnable(pa_io_event* e, pa_io_event_flags_t events)
    {
        e->events = events;
        EnableNotifiers(e);
    }

    static void IoFree(pa_io_event* e)
    {
        e->dead = true;
        EnableNotifiers(e);
        e->loop->m_garbage = true;
        e->loop->CollectGarbage();
    }

    static void IoSetDestroy(pa_io_event* e, pa_io_event_destroy_cb_t destroy)
    {
        e->destroy = destroy;
    }

    static pa_time_event* TimeNew(pa_mainloop_api* api, const timeval* due,
                                  pa_time_event_cb_t callback, void* userdata)
    {
        PulseLoop* loop = LoopOf(api);
        auto e = std::make_unique<pa_time_event>();
        e->loop = loop;
        e->callback = callback;
        e->userdata = userdata;
        e->timer = std::make_unique<QTimer>();
        e->timer->setSingleShot(true);
        e->timer->setTimerType(Qt::PreciseTimer);
        pa_time_event* raw = e.get();
        QObject::connect(e->timer.get(), &QTimer::timeout, e->timer.get(),
                         [raw] { raw->loop->DispatchTime(raw); });
        loop->m_times.push_back(std::move(e));
        TimeRestart(raw, due);
        return raw;
    }

    static void TimeRestart(pa_time_event* e, const timeval* due)
    {
        e->enabled = due != nullptr;
        if (due)
            e->due = *due;
        ArmTimer(e);
    }

    static void TimeFree(pa_time_event* e)
    {
        e->dead = true;
        ArmTimer(e);
        e->loop->m_garbage = true;
        e->loop->CollectGarbage();
    }

    static void TimeSetDestroy(pa_time_event* e, pa_time_event_destroy_cb_t destroy)
    {
        e->destroy = destroy;
    }

    static pa_defer_event* DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback,
                                    void* userdata)
    {
        PulseLoop* loop = LoopOf(api);
        auto e = std::make_unique<pa_defer_event>();
        e->loop = loop;
        e->callback = callback;
        e->userdata = userdata;
        e->enabled = true;
        loop->m_defers.push_back(std::move(e));
        loop->UpdateDeferTimer();
        return loop->m_defers.back().get();
    }

    static void DeferEnable(pa_defer_event* e, int enable)
    {
        e->enabled = enable != 0;
        e->loop->UpdateDeferTimer();
    }

    static void DeferFree(pa_defer_event* e)
    {
        e->dead = true;
        e->enabled = false;
        e->loop->m_garbage = true;
        e->loop->CollectGarbage();
    }

    static void DeferSetDestroy(pa_defer_event* e, pa_defer_event_destroy_cb_t destroy)
    {
        e->destroy = destroy;
    }

    // Nobody runs this loop but Qt: there is nothing to quit.
    static void Quit(pa_mainloop_api*, int) {}
};

// Marks a call-out, so that events freed meanwhile outlive it.
struct PulseLoop::Dispatching {
    explicit Dispatching(PulseLoop& loop) : m_loop(loop) { ++m_loop.m_dispatchDepth; }
    ~Dispatching()
    {
        --m_loop.m_dispatchDepth;
        m_loop.CollectGarbage();
    }
    PulseLoop& m_loop;
};

PulseLoop::PulseLoop()
{
    m_api.userdata = this;
    m_api.io_new = &PulseLoopAccess::IoNew;
    m_api.io_enable = &PulseLoopAccess::IoEnable;
    m_api.io_free = &PulseLoopAccess::IoFree;
    m_api.io_set_destroy = &PulseLoopAccess::IoSetDestroy;
    m_api.time_new = &PulseLoopAccess::TimeNew;
    m_api.time_restart = &PulseLoopAccess::TimeRestart;
    m_api.time_free = &PulseLoopAccess::TimeFree;
    m_api.time_set_destroy = &PulseLoopAccess::TimeSetDestroy;
    m_api.defer_new = &PulseLoopAccess::DeferNew;
    m_api.defer_enable = &PulseLoopAccess::DeferEnable;
    m_api.defer_free = &PulseLoopAccess::DeferFree;
    m_api.defer_set_destroy = &PulseLoopAccess::DeferSetDestroy;
    m_api.quit = &PulseLoopAccess::Quit;
    m_deferTimer = std::make_unique<QTimer>();
    m_deferTimer->setInterval(0);
    QObject::connect(m_deferTimer.get(), &QTimer::timeout, m_deferTimer.get(),
                     [this] { DispatchDefers(); });
    m_holdTimer = std::make_unique<QTimer>();
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_holdTimer.get(), &QTimer::timeout, m_holdTimer.get(), [this] {
        m_holdingReads = false;
        for (auto& e : m_ios)
            EnableNotifiers(e.get());
    });
}

void PulseLoop::HoldReadsFor(int ms)
{
    if (ms <= 0)
        return;
    m_holdingReads = true;
    for (auto& e : m_ios)
        EnableNotifiers(e.get());
    m_holdTimer->start(ms);
}

// Whatever the library still holds is let go of, with its destroy calls.
PulseLoop::~PulseLoop()
{
    for (auto& e : m_ios)
        e->dead = true;
    for (auto& e : m_times)
        e->dead = true;
    for (auto& e : m_defers)
        e->dead = true;
    m_garbage = true;
    m_dispatchDepth = 0;
    CollectGarbage();
}

void PulseLoop::DispatchIo(pa_io_event* e, pa_io_event_flags_t ready)
{
    if (e->dead || !(e->events & ready))
        return;
    Dispatching guard(*this);
    e->callback(&m_api, e, e->fd, ready, e->userdata);
}

void PulseLoop::DispatchTime(pa_time_event* e)
{
    if (e->dead || !e->enabled)
        return;
    // Qt may be a millisecond early by its own rounding: never call early.
    if (const int leftMs = MsUntil(e->due); leftMs > 0) {
        e->timer->start(leftMs);
        return;
    }
    e->enabled = false;
    Dispatching guard(*this);
    const timeval due = e->due;
    e->callback(&m_api, e, &due, e->userdata);
}

void PulseLoop::DispatchDefers()
{
    {
        Dispatching guard(*this);
        // Defers created meanwhile wait for the next round, as in the
        // library's own loop.
        const size_t count = m_defers.size();
        for (size_t i = 0; i < count; ++i) {
            pa_defer_event* e = m_defers[i].get();
            if (e->enabled && !e->dead)
                e->callback(&m_api, e, e->userdata);
        }
    }
    UpdateDeferTimer();
}

void PulseLoop::UpdateDeferTimer()
{
    const bool any = std::any_of(m_defers.begin(), m_defers.end(),
                                 [](const auto& e) { return e->enabled && !e->dead; });
    if (!any)
        m_deferTimer->stop();
    else if (!m_deferTimer->isActive())
        m_deferTimer->start();
}

// Releases freed events once no call-out is running. Their destroy calls
// may free further events: sweep until none is left.
void PulseLoop::CollectGarbage()
{
    if (m_dispatchDepth > 0)
        return;
    ++m_dispatchDepth;
    auto sweep = [this](auto& events) {
        for (size_t i = 0; i < events.size();) {
            if (!events[i]->dead) {
                ++i;
                continue;
            }
            auto e = std::move(events[i]);
            events.erase(events.begin() + std::ptrdiff_t(i));
            if (e->destroy)
                e->destroy(&m_api, e.get(), e->userdata);
        }
    };
    while (m_garbage) {
        m_garbage = false;
        sweep(m_ios);
        sweep(m_times);
        sweep(m_defers);
    }
    --m_dispatchDepth;
}

int PulseLoop::NextTimeoutMs(int capMs) const
{
    int timeoutMs = capMs;
    for (const auto& e : m_defers)
        if (e->enabled && !e->dead)
            return 0;
    for (const auto& e : m_times)
        if (e->enabled && !e->dead)
            timeoutMs = std::min(timeoutMs, MsUntil(e->due));
    return std::max(timeoutMs, 0);
}

void PulseLoop::Iterate(int timeoutMs)
{
    std::vector<pollfd> fds;
    std::vector<pa_io_event*> polled;
    for (const auto& e : m_ios) {
        const short wanted = PollEventsFor(e->events);
        if (e->dead || wanted == 0)
            continue;
        fds.push_back({e->fd, wanted, 0});
        polled.push_back(e.get());
    }
    ::poll(fds.data(), fds.size(), NextTimeoutMs(timeoutMs));

    Dispatching guard(*this);
    if (std::any_of(m_defers.begin(), m_defers.end(),
                    [](const auto& e) { return e->enabled && !e->dead; }))
        DispatchDefers();
    for (size_t i = 0; i < m_times.size(); ++i) {
        pa_time_event* e = m_times[i].get();
        if (e->enabled && !e->dead && MsUntil(e->due) == 0) {
            e->timer->stop();
            DispatchTime(e);
        }
    }
    for (size_t i = 0; i < fds.size(); ++i) {
        pa_io_event* e = polled[i];
        if (fds[i].revents != 0 && !e->dead &&
            (e->events & (PA_IO_EVENT_INPUT | PA_IO_EVENT_OUTPUT)))
            e->callback(&m_api, e, e->fd, FlagsFor(fds[i].revents), e->userdata);
    }
}

}  // namespace velnar
