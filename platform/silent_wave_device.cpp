#include "platform/silent_wave_device.h"

#include "platform/wave_format.h"
#include "platform/wave_queue.h"

#include <QObject>
#include <QTimer>

#include <cstring>
#include <utility>

namespace velnar {

namespace {

QTimer* MakePeriodTimer(QObject* parent)
{
    auto* timer = new QTimer(parent);
    timer->setInterval(int{kWavePeriodMs});
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
        m_queue.Open(std::move(onDone));
        return WaveOk;
    }
    int Prepare(WaveHeader* header) override { return m_queue.Prepare(header); }
    int Unprepare(WaveHeader* header) override { return m_queue.Unprepare(header); }
    int AddBuffer(WaveHeader* header) override { return m_queue.Add(header); }
    int Start() override
    {
        return Run([this] { m_timer->start(); });
    }
    // Buffers are filled whole at each tick, so none is ever part-filled:
    // stopping hands nothing back.
    int Stop() override
    {
        return Run([this] { m_timer->stop(); });
    }
    int Reset() override
    {
        return Run([this] {
            m_timer->stop();
            m_queue.Reset();
        });
    }
    int Close() override
    {
        return Run([this] {
            m_timer->stop();
            m_queue.Close();
        });
    }

private:
    template <typename Action>
    int Run(Action action)
    {
        if (!m_queue.IsOpen())
            return WaveErrNotOpen;
        action();
        return WaveOk;
    }
    void FillOne()
    {
        WaveHeader* header = m_queue.Head();
        if (!header)
            return;  // silence with nowhere to go is dropped
        std::memset(header->data, 0, header->bufferLength);
        header->bytesRecorded = header->bufferLength;
        m_queue.CompleteHead();
    }

    std::unique_ptr<QObject> m_context;  // owns the timer
    QTimer* m_timer;
    CaptureQueue m_queue;
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
        m_queue.Open();
        m_paused = false;
        return WaveOk;
    }
    int Prepare(WaveHeader* header) override { return m_queue.Prepare(header); }
    int Unprepare(WaveHeader* header) override { return m_queue.Unprepare(header); }
    int Write(WaveHeader* header) override
    {
        const int rc = m_queue.Add(header);
        if (rc == WaveOk && !m_paused && !m_timer->isActive())
            m_timer->start();
        return rc;
    }
    int Pause() override
    {
        return Run([this] {
            m_paused = true;
            m_timer->stop();
        });
    }
    int Restart() override
    {
        return Run([this] {
            m_paused = false;
            if (!m_queue.IsEmpty())
                m_timer->start();
        });
    }
    int Reset() override
    {
        return Run([this] {
            m_timer->stop();
            m_queue.MarkAllDone();
        });
    }
    int Close() override
    {
        return Run([this] {
            m_timer->stop();
            m_queue.Close();
        });
    }

private:
    template <typename Action>
    int Run(Action action)
    {
        if (!m_queue.IsOpen())
            return WaveErrNotOpen;
        action();
        return WaveOk;
    }
    void PlayOne()
    {
        if (m_queue.FinishOldest(1) == 0)
            m_timer->stop();
    }

    std::unique_ptr<QObject> m_context;
    QTimer* m_timer;
    BlockQueue m_queue;
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
