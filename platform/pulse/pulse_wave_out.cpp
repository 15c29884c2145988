#include "platform/pulse/pulse_wave_out.h"

#include "platform/wave_format.h"

#include <span>

namespace velnar {

namespace {

constexpr uint32_t kBlockBytes = kWavePeriodBytes;
// The server asks for more a block at a time, and takes at most 50 ms ahead
// (of which it gives about 5 ms to the sound card): the caller's four
// pre-filled blocks are not all handed over at once, so "played" stays
// close to heard and the caller's queue sets the delay. Less (40 ms) leaves
// a busy machine too little time to answer the server's request for the
// next block: the server runs short again and again, and everything after
// each shortfall plays that much later.
constexpr uint32_t kServerAheadBytes = 800;

void Release(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

}  // namespace

PulseWaveOut::PulseWaveOut() = default;

PulseWaveOut::~PulseWaveOut()
{
    if (m_queue.IsOpen())
        Close();
}

int PulseWaveOut::Open()
{
    if (m_queue.IsOpen())
        Close();
    if (Connect() != WaveOk) {
        m_openFailure = "sound server playback: " + m_server.Failure();
        return WaveErrNoDevice;
    }
    if (MakeStream() != WaveOk) {
        m_server.Release();
        m_openFailure = "sound server playback: the server refused the stream";
        return WaveErrNoDevice;
    }
    m_openFailure.clear();
    m_queue.Open();
    m_paused = false;
    m_failed = false;
    return WaveOk;
}

int PulseWaveOut::Connect()
{
    return m_server.Connect([this] { Fail(); }) ? WaveOk : WaveErrNoDevice;
}

// A corked stream, ready on the server when this returns WaveOk: the
// server's refusal is known here, not in the middle of a call.
int PulseWaveOut::MakeStream()
{
    m_stream = NewPhoneStream(m_server.Server().Handle());
    if (!m_stream)
        return WaveErrDevice;
    pa_stream_set_state_callback(m_stream.get(), &PulseWaveOut::OnStreamState, this);
    pa_stream_set_write_callback(m_stream.get(), &PulseWaveOut::OnWritable, this);
    pa_stream_set_underflow_callback(m_stream.get(), &PulseWaveOut::OnUnderflow, this);
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = kServerAheadBytes;
    attr.prebuf = kBlockBytes;
    attr.minreq = kBlockBytes;
    attr.fragsize = uint32_t(-1);
    m_corked = true;
    m_serverHolds = false;
    m_writeIndex = 0;
    if (pa_stream_connect_playback(
            m_stream.get(),
            m_device.empty() ? DeviceFromEnvironment("PULSE_SINK") : m_device.c_str(), &attr,
            pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED), nullptr,
            nullptr) < 0) {
        m_stream.reset();
        return WaveErrDevice;
    }
    const bool ready = m_server.Server().WaitUntil(
        [this] { return !m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_CREATING; },
        PulseContext::kConnectWaitMs);
    if (!ready || !m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_READY) {
        m_stream.reset();
        return WaveErrDevice;
    }
    return WaveOk;
}

int PulseWaveOut::Prepare(WaveHeader* header)
{
    return m_queue.Prepare(header);
}

int PulseWaveOut::Unprepare(WaveHeader* header)
{
    return m_queue.Unprepare(header);
}

int PulseWaveOut::Write(WaveHeader* header)
{
    if (const int rc = m_queue.Add(header); rc != WaveOk)
        return rc;
    // A failed device swallows blocks: the caller keeps running (its
    // reaction to a failed write is to end the program), nothing piles up.
    if (m_failed)
        m_queue.MarkAllDone();
    else
        Feed();
    return WaveOk;
}

// Nothing more is handed over; what the server took already counts as
// played and plays out, and the stream corks once it has (OnUnderflow).
// Corked at once instead, the server would keep that sound back and add it
// to the caller's pre-fill: the queue pauses exactly when it has handed
// everything over, so every pause would lengthen the delay by as much.
int PulseWaveOut::Pause()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_paused = true;
    if (!m_serverHolds)
        Cork(true);
    return WaveOk;
}

int PulseWaveOut::Restart()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_paused = false;
    if (m_failed && Connect() == WaveOk && MakeStream() == WaveOk)
        m_failed = false;
    if (m_failed) {
        m_queue.MarkAllDone();
        return WaveOk;
    }
    if (m_serverHolds)
        Cork(false);
    Feed();
    return WaveOk;
}

int PulseWaveOut::Reset()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_stream) {
        Release(pa_stream_flush(m_stream.get(), nullptr, nullptr));
        m_writeIndex = -1;
    }
    m_serverHolds = false;
    Cork(true);
    m_queue.MarkAllDone();
    return WaveOk;
}

int PulseWaveOut::Close()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_stream.reset();
    m_queue.Close();
    m_server.Release();
    m_paused = false;
    return WaveOk;
}

void PulseWaveOut::OnStreamState(pa_stream* stream, void* userdata)
{
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        static_cast<PulseWaveOut*>(userdata)->Fail();
}

void PulseWaveOut::OnWritable(pa_stream*, size_t, void* userdata)
{
    static_cast<PulseWaveOut*>(userdata)->Feed();
}

// Everything given has played: cork, so that nothing runs until the next
// block or the end of a pause. (Unless a block went out after the server ran
// dry: that one is still to be played.)
void PulseWaveOut::OnUnderflow(pa_stream* stream, void* userdata)
{
    auto* self = static_cast<PulseWaveOut*>(userdata);
    if (!self->m_queue.IsEmpty() && !self->m_paused)
        return;
    if (self->m_writeIndex >= 0 && pa_stream_get_underflow_index(stream) < self->m_writeIndex)
        return;
    self->m_serverHolds = false;
    self->Cork(true);
}

// Hands the server what it asks for, in one write; the server asks again
// (OnWritable) as it plays. With blocks waiting and no pause the stream
// runs even when the server has no room yet: an underflow notice that
// arrives after later blocks went out corks a stream that holds them, and
// such a stream would never ask for more, nor play again.
void PulseWaveOut::Feed()
{
    if (m_paused || m_failed || !m_stream || m_queue.IsEmpty())
        return;
    const size_t writableBytes = pa_stream_writable_size(m_stream.get());
    if (writableBytes == size_t(-1)) {
        Fail();
        return;
    }
    // Whole frames only: the server takes no half sample.
    const size_t capacityBytes = WholeFrameBytes(writableBytes);
    if (m_staging.size() < capacityBytes)
        m_staging.resize(capacityBytes);
    const size_t offeredBytes = m_queue.Gather(std::span(m_staging).first(capacityBytes));
    if (offeredBytes > 0) {
        if (pa_stream_write(m_stream.get(), m_staging.data(), offeredBytes, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0) {
            Fail();
            return;
        }
        m_queue.TakeHanded(offeredBytes);
        if (m_writeIndex >= 0)
            m_writeIndex += int64_t(offeredBytes);
        m_serverHolds = true;
    }
    Cork(false);
}

void PulseWaveOut::Cork(bool cork)
{
    if (!m_stream || cork == m_corked)
        return;
    m_corked = cork;
    Release(pa_stream_cork(m_stream.get(), cork ? 1 : 0, nullptr, nullptr));
}

// The server or the stream is gone: every block is done, and so is every
// block written from now on.
void PulseWaveOut::Fail()
{
    m_failed = true;
    m_stream.reset();
    m_corked = true;
    m_serverHolds = false;
    m_queue.MarkAllDone();
}

}  // namespace velnar
