#include "platform/doubles/fake_wave_device.h"

#include "platform/wave_header_rules.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstring>

namespace velnar {

namespace {

// Copies as much of pcm as fits after what the header already holds.
void AppendPcm(WaveHeader* header, std::span<const uint8_t> pcm)
{
    const uint32_t room = header->bufferLength - header->bytesRecorded;
    const auto bytes = static_cast<uint32_t>(std::min<size_t>(room, pcm.size()));
    if (bytes > 0)
        std::memcpy(header->data + header->bytesRecorded, pcm.data(), bytes);
    header->bytesRecorded += bytes;
}

// Every operation starts alike: it is recorded, refused on a closed device,
// and fails with the result the test injected. WaveOk lets it go on.
int Enter(std::vector<FakeCall>& calls, FakeCall call, bool open, int injected)
{
    calls.push_back(call);
    return open ? injected : WaveErrNotOpen;
}

}  // namespace

// ----------------------------------------------------------------- capture

FakeWaveIn::FakeWaveIn() : m_context(std::make_unique<QObject>()) {}

FakeWaveIn::~FakeWaveIn() = default;

int FakeWaveIn::Open(DoneFn onDone)
{
    m_calls.push_back(FakeCall::Open);
    if (results.open != WaveOk)
        return results.open;
    m_onDone = std::move(onDone);
    m_open = true;
    return WaveOk;
}

int FakeWaveIn::Prepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Prepare, m_open, results.prepare))
        return rc;
    return PrepareHeader(header);
}

int FakeWaveIn::Unprepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Unprepare, m_open, results.unprepare))
        return rc;
    return UnprepareHeader(header);
}

int FakeWaveIn::AddBuffer(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::AddBuffer, m_open, results.addBuffer))
        return rc;
    const int rc = QueueHeader(header);
    if (rc == WaveOk)
        m_queue.push_back(header);
    return rc;
}

int FakeWaveIn::Start()
{
    if (const int rc = Enter(m_calls, FakeCall::Start, m_open, results.start))
        return rc;
    m_started = true;
    return WaveOk;
}

int FakeWaveIn::Stop()
{
    if (const int rc = Enter(m_calls, FakeCall::Stop, m_open, results.stop))
        return rc;
    m_started = false;
    // Like the real device: a part-filled buffer comes back, empty ones stay.
    if (!m_queue.empty() && m_queue.front()->bytesRecorded > 0) {
        Post(m_queue.front());
        m_queue.pop_front();
    }
    return WaveOk;
}

int FakeWaveIn::Reset()
{
    if (const int rc = Enter(m_calls, FakeCall::Reset, m_open, results.reset))
        return rc;
    m_started = false;
    while (!m_queue.empty()) {
        Post(m_queue.front());
        m_queue.pop_front();
    }
    return WaveOk;
}

int FakeWaveIn::Close()
{
    if (const int rc = Enter(m_calls, FakeCall::Close, m_open, results.close))
        return rc;
    // The caller may free its headers once Close returns: let go of every
    // one, and never call back for them.
    for (WaveHeader* header : m_queue)
        FinishHeader(header);
    m_queue.clear();
    m_outbox.clear();  // a dispatch still scheduled finds nothing to hand back
    m_onDone = nullptr;
    m_open = false;
    m_started = false;
    return WaveOk;
}

bool FakeWaveIn::Fill(std::span<const uint8_t> pcm)
{
    if (!m_started || m_queue.empty())
        return false;
    AppendPcm(m_queue.front(), pcm);
    return true;
}

bool FakeWaveIn::Complete(std::span<const uint8_t> pcm)
{
    if (!Fill(pcm))
        return false;
    Post(m_queue.front());
    m_queue.pop_front();
    return true;
}

bool FakeWaveIn::Deliver(std::span<const uint8_t> pcm)
{
    if (!Complete(pcm))
        return false;
    DispatchPosted();
    return true;
}

size_t FakeWaveIn::DispatchPosted()
{
    size_t count = 0;
    while (!m_outbox.empty()) {
        WaveHeader* header = m_outbox.front();
        m_outbox.pop_front();
        ++count;
        // A copy: the callback may close the device, which drops m_onDone.
        if (DoneFn onDone = m_onDone)
            onDone(header);
    }
    return count;
}

void FakeWaveIn::SetDispatchThroughEventLoop(bool on)
{
    m_eventLoop = on;
    if (on && !m_outbox.empty())
        ScheduleDispatch();
}

void FakeWaveIn::Post(WaveHeader* header)
{
    FinishHeader(header);
    m_outbox.push_back(header);
    if (m_eventLoop)
        ScheduleDispatch();
}

void FakeWaveIn::ScheduleDispatch()
{
    QMetaObject::invokeMethod(
        m_context.get(), [this] { DispatchPosted(); }, Qt::QueuedConnection);
}

// ----------------------------------------------------------------- playback

FakeWaveOut::FakeWaveOut() = default;

FakeWaveOut::~FakeWaveOut() = default;

int FakeWaveOut::Open()
{
    m_calls.push_back(FakeCall::Open);
    if (results.open != WaveOk)
        return results.open;
    m_open = true;
    m_paused = false;
    return WaveOk;
}

int FakeWaveOut::Prepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Prepare, m_open, results.prepare))
        return rc;
    return PrepareHeader(header);
}

int FakeWaveOut::Unprepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Unprepare, m_open, results.unprepare))
        return rc;
    return UnprepareHeader(header);
}

int FakeWaveOut::Write(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Write, m_open, results.addBuffer))
        return rc;
    const int rc = QueueHeader(header);
    if (rc != WaveOk)
        return rc;
    m_written.emplace_back(header->data, header->data + header->bufferLength);
    m_queue.push_back(header);
    return WaveOk;
}

int FakeWaveOut::Pause()
{
    if (const int rc = Enter(m_calls, FakeCall::Pause, m_open, results.pause))
        return rc;
    m_paused = true;
    return WaveOk;
}

int FakeWaveOut::Restart()
{
    if (const int rc = Enter(m_calls, FakeCall::Restart, m_open, results.restart))
        return rc;
    m_paused = false;
    return WaveOk;
}

int FakeWaveOut::Reset()
{
    if (const int rc = Enter(m_calls, FakeCall::Reset, m_open, results.reset))
        return rc;
    MarkAllDone();
    return WaveOk;
}

int FakeWaveOut::Close()
{
    if (const int rc = Enter(m_calls, FakeCall::Close, m_open, results.close))
        return rc;
    MarkAllDone();
    m_open = false;
    m_paused = false;
    return WaveOk;
}

size_t FakeWaveOut::PlayN(size_t n)
{
    if (!m_open || m_paused)
        return 0;
    size_t played = 0;
    while (played < n && !m_queue.empty()) {
        FinishHeader(m_queue.front());
        m_queue.pop_front();
        ++played;
    }
    return played;
}

size_t FakeWaveOut::PlayAll()
{
    return PlayN(m_queue.size());
}

void FakeWaveOut::MarkAllDone()
{
    for (WaveHeader* header : m_queue)
        FinishHeader(header);
    m_queue.clear();
}

}  // namespace velnar
