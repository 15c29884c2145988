#include "platform/silent_wave_device.h"

#include "platform/wave_format.h"
#include "platform/wave_queue.h"

#include <QObject>
#include <QTimer>

#include <cstring>
#include <functional>
#include <utility>

namespace velnar {

namespace {

// Calls back every 20 ms while running, from the event loop; calls still
// due die with it.
class PeriodTicker {
public:
    explicit PeriodTicker(std::function<void()> onTick)
    {
        m_timer.setInterval(static_cast<int>(kWavePeriodMs));
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(onTick));
    }
    void Start() { m_timer.start(); }
    void Stop() { m_timer.stop(); }
    bool IsRunning() const { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

// Runs `action` on an open device; WaveErrNotOpen on a closed one.
template <typename Action>
int IfOpen(bool open, Action action)
{
    if (!open)
        return WaveErrNotOpen;
    action();
    return WaveOk;
}

class SilentWaveIn final : public WaveIn {
public:
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
        return IfOpen(m_queue.IsOpen(), [this] { m_ticker.Start(); });
    }
    // Buffers are filled whole at each tick, so none is ever part-filled:
    // stopping hands nothing back.
    int Stop() override
    {
        return IfOpen(m_queue.IsOpen(), [this] { m_ticker.Stop(); });
    }
    int Reset() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_ticker.Stop();
            m_queue.Reset();
        });
    }
    int Close() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_ticker.Stop();
            m_queue.Close();
        });
    }

private:
    void FillOne()
    {
        WaveHeader* header = m_queue.Head();
        if (!header)
            return;  // silence with nowhere to go is dropped
        std::memset(header->data, 0, header->bufferLength);
        header->bytesRecorded = header->bufferLength;
        m_queue.CompleteHead();
    }

    CaptureQueue m_queue;
    PeriodTicker m_ticker{[this] { FillOne(); }};
};

class SilentWaveOut final : public WaveOut {
public:
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
        if (rc == WaveOk && !m_paused && !m_ticker.IsRunning())
            m_ticker.Start();
        return rc;
    }
    int Pause() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_paused = true;
            m_ticker.Stop();
        });
    }
    int Restart() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_paused = false;
            if (!m_queue.IsEmpty())
                m_ticker.Start();
        });
    }
    int Reset() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_ticker.Stop();
            m_queue.MarkAllDone();
        });
    }
    int Close() override
    {
        return IfOpen(m_queue.IsOpen(), [this] {
            m_ticker.Stop();
            m_queue.Close();
        });
    }

private:
    void PlayOne()
    {
        if (m_queue.FinishOldest(1) == 0)
            m_ticker.Stop();
    }

    BlockQueue m_queue;
    bool m_paused = false;
    PeriodTicker m_ticker{[this] { PlayOne(); }};
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
