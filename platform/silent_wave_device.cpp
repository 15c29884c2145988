#include "platform/silent_wave_device.h"

#include "platform/wave_header_rules.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cstring>
#include <deque>

namespace velnar {

namespace {

constexpr int kPeriodMs = 20;  // one capture buffer or playback block

QTimer* MakePeriodTimer(QObject* parent)
{
    auto* timer = new QTimer(parent);
    timer->setInterval(kPeriodMs);
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

class SilentWaveIn final : public WaveIn {
public:
    SilentWaveIn()
        : m_context(std::make_unique<QObject>()), m_timer(MakePeriodTimer(m_context.get()))
    {
        QObject::connect(m_timer, &QTimer::timeout, m_context.get(), [this] { FillOne(); });
    }

    int Open(DoneFn onDone) override
    {
        m_onDone = std::move(onDone);
        m_open = true;
        return WaveOk;
    }
    int Prepare(WaveHeader* header) override
    {
        return m_open ? PrepareHeader(header) : WaveErrNotOpen;
    }
    int Unprepare(WaveHeader* header) override
    {
        return m_open ? UnprepareHeader(header) : WaveErrNotOpen;
    }
    int AddBuffer(WaveHeader* header) override
    {
        if (!m_open)
            return WaveErrNotOpen;
        const int rc = QueueHeader(header);
        if (rc == WaveOk)
            m_queue.push_back(header);
        return rc;
    }
    int Start() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_timer->start();
        return WaveOk;
    }
    // Buffers are filled whole at each tick, so none is ever part-filled:
    // stopping hands nothing back.
    int Stop() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_timer->stop();
        return WaveOk;
    }
    int Reset() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_timer->stop();
        while (!m_queue.empty()) {
            Post(m_queue.front());
            m_queue.pop_front();
        }
        return WaveOk;
    }
    int Close() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_timer->stop();
        for (WaveHeader* header : m_queue)
            FinishHeader(header);
        m_queue.clear();
        m_outbox.clear();  // a dispatch still scheduled finds nothing
        m_onDone = nullptr;
        m_open = false;
        return WaveOk;
    }

private:
    void FillOne()
    {
        if (m_queue.empty())
            return;  // silence with nowhere to go is dropped
        WaveHeader* header = m_queue.front();
        m_queue.pop_front();
        std::memset(header->data, 0, header->bufferLength);
        header->bytesRecorded = header->bufferLength;
        Post(header);
    }
    void Post(WaveHeader* header)
    {
        FinishHeader(header);
        m_outbox.push_back(header);
        QMetaObject::invokeMethod(
            m_context.get(), [this] { Dispatch(); }, Qt::QueuedConnection);
    }
    void Dispatch()
    {
        while (!m_outbox.empty()) {
            WaveHeader* header = m_outbox.front();
            m_outbox.pop_front();
            // A copy: the callback may close the device, which drops m_onDone.
            if (DoneFn onDone = m_onDone)
                onDone(header);
        }
    }

    std::unique_ptr<QObject> m_context;  // owns the timer; queued calls die with it
    QTimer* m_timer;
    DoneFn m_onDone;
    std::deque<WaveHeader*> m_queue;
    std::deque<WaveHeader*> m_outbox;
    bool m_open = false;
};

class SilentWaveOut final : public WaveOut {
public:
    SilentWaveOut()
        : m_context(std::make_unique<QObject>()), m_timer(MakePeriodTimer(m_context.get()))
    {
        QObject::connect(m_timer, &QTimer::timeout, m_context.get(), [this] { PlayOne(); });
    }

    int Open() override
    {
        m_open = true;
        m_paused = false;
        return WaveOk;
    }
    int Prepare(WaveHeader* header) override
    {
        return m_open ? PrepareHeader(header) : WaveErrNotOpen;
    }
    int Unprepare(WaveHeader* header) override
    {
        return m_open ? UnprepareHeader(header) : WaveErrNotOpen;
    }
    int Write(WaveHeader* header) override
    {
        if (!m_open)
            return WaveErrNotOpen;
        const int rc = QueueHeader(header);
        if (rc != WaveOk)
            return rc;
        m_queue.push_back(header);
        if (!m_paused && !m_timer->isActive())
            m_timer->start();
        return WaveOk;
    }
    int Pause() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_paused = true;
        m_timer->stop();
        return WaveOk;
    }
    int Restart() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_paused = false;
        if (!m_queue.empty())
            m_timer->start();
        return WaveOk;
    }
    int Reset() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        m_timer->stop();
        for (WaveHeader* header : m_queue)
            FinishHeader(header);
        m_queue.clear();
        return WaveOk;
    }
    int Close() override
    {
        if (!m_open)
            return WaveErrNotOpen;
        Reset();
        m_open = false;
        return WaveOk;
    }

private:
    void PlayOne()
    {
        if (m_queue.empty()) {
            m_timer->stop();
            return;
        }
        FinishHeader(m_queue.front());
        m_queue.pop_front();
    }

    std::unique_ptr<QObject> m_context;
    QTimer* m_timer;
    std::deque<WaveHeader*> m_queue;
    bool m_open = false;
    bool m_paused = false;
};

}  // namespace

std::unique_ptr<WaveIn> MakeSilentWaveIn()
{
    return std::make_unique<SilentWaveIn>();
}

std::unique_ptr<WaveOut> MakeSilentWaveOut()
{
    return std::make_unique<SilentWaveOut>();
}

}  // namespace velnar
