#include "platform/doubles/fake_wave_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

FakeWaveIn::FakeWaveIn() = default;

FakeWaveIn::~FakeWaveIn() = default;

int FakeWaveIn::Open(DoneFn onDone)
{
    m_calls.push_back(FakeCall::Open);
    if (results.open != WaveOk)
        return results.open;
    m_queue.Open(std::move(onDone));
    return WaveOk;
}

int FakeWaveIn::Prepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Prepare, IsOpen(), results.prepare))
        return rc;
    return m_queue.Prepare(header);
}

int FakeWaveIn::Unprepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Unprepare, IsOpen(), results.unprepare))
        return rc;
    return m_queue.Unprepare(header);
}

int FakeWaveIn::AddBuffer(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::AddBuffer, IsOpen(), results.addBuffer))
        return rc;
    return m_queue.Add(header);
}

int FakeWaveIn::Start()
{
    if (const int rc = Enter(m_calls, FakeCall::Start, IsOpen(), results.start))
        return rc;
    m_started = true;
    return WaveOk;
}

int FakeWaveIn::Stop()
{
    if (const int rc = Enter(m_calls, FakeCall::Stop, IsOpen(), results.stop))
        return rc;
    m_started = false;
    // Like the real device: a part-filled buffer comes back, empty ones stay.
    m_queue.Stop();
    return WaveOk;
}

int FakeWaveIn::Reset()
{
    if (const int rc = Enter(m_calls, FakeCall::Reset, IsOpen(), results.reset))
        return rc;
    m_started = false;
    m_queue.Reset();
    return WaveOk;
}

int FakeWaveIn::Close()
{
    if (const int rc = Enter(m_calls, FakeCall::Close, IsOpen(), results.close))
        return rc;
    m_queue.Close();
    m_started = false;
    return WaveOk;
}

bool FakeWaveIn::Fill(std::span<const uint8_t> pcm)
{
    if (!m_started || m_queue.IsEmpty())
        return false;
    AppendPcm(m_queue.Head(), pcm);
    return true;
}

bool FakeWaveIn::Complete(std::span<const uint8_t> pcm)
{
    if (!Fill(pcm))
        return false;
    m_queue.CompleteHead();
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
    return m_queue.DispatchNow();
}

void FakeWaveIn::SetDispatchThroughEventLoop(bool on)
{
    m_queue.SetDispatch(on ? CaptureQueue::Dispatch::Posted : CaptureQueue::Dispatch::Manual);
}

// ----------------------------------------------------------------- playback

FakeWaveOut::FakeWaveOut() = default;

FakeWaveOut::~FakeWaveOut() = default;

int FakeWaveOut::Open()
{
    m_calls.push_back(FakeCall::Open);
    if (results.open != WaveOk)
        return results.open;
    m_queue.Open();
    m_paused = false;
    return WaveOk;
}

int FakeWaveOut::Prepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Prepare, IsOpen(), results.prepare))
        return rc;
    return m_queue.Prepare(header);
}

int FakeWaveOut::Unprepare(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Unprepare, IsOpen(), results.unprepare))
        return rc;
    return m_queue.Unprepare(header);
}

int FakeWaveOut::Write(WaveHeader* header)
{
    if (const int rc = Enter(m_calls, FakeCall::Write, IsOpen(), results.addBuffer))
        return rc;
    if (const int rc = m_queue.Add(header); rc != WaveOk)
        return rc;
    m_written.emplace_back(header->data, header->data + header->bufferLength);
    return WaveOk;
}

int FakeWaveOut::Pause()
{
    if (const int rc = Enter(m_calls, FakeCall::Pause, IsOpen(), results.pause))
        return rc;
    m_paused = true;
    return WaveOk;
}

int FakeWaveOut::Restart()
{
    if (const int rc = Enter(m_calls, FakeCall::Restart, IsOpen(), results.restart))
        return rc;
    m_paused = false;
    return WaveOk;
}

int FakeWaveOut::Reset()
{
    if (const int rc = Enter(m_calls, FakeCall::Reset, IsOpen(), results.reset))
        return rc;
    m_queue.MarkAllDone();
    return WaveOk;
}

int FakeWaveOut::Close()
{
    if (const int rc = Enter(m_calls, FakeCall::Close, IsOpen(), results.close))
        return rc;
    m_queue.Close();
    m_paused = false;
    return WaveOk;
}

size_t FakeWaveOut::PlayN(size_t n)
{
    if (!IsOpen() || m_paused)
        return 0;
    return m_queue.FinishOldest(n);
}

size_t FakeWaveOut::PlayAll()
{
    return PlayN(m_queue.Count());
}

}  // namespace velnar
