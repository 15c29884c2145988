#include "platform/pulse/pulse_wave_in.h"

#include "platform/wave_format.h"

#include <span>
#include <utility>

namespace velnar {

namespace {

// One 20-ms buffer per fragment: the server wakes us once per buffer.
constexpr uint32_t kFragmentBytes = kWavePeriodBytes;
// What the server keeps for us while the event loop is busy: 1 s.
constexpr uint32_t kServerQueueBytes = kWaveBytesPerMs * 1000;

}  // namespace

PulseWaveIn::PulseWaveIn() = default;

PulseWaveIn::~PulseWaveIn()
{
    if (m_queue.IsOpen())
        Close();
}

int PulseWaveIn::Open(DoneFn onDone)
{
    if (m_queue.IsOpen())
        Close();
    if (const int rc = Connect(); rc != WaveOk) {
        m_openFailure = "sound server capture: " + m_server.Failure();
        return rc;
    }
    if (const int rc = OpenStream(); rc != WaveOk) {
        m_server.Release();
        m_openFailure = "sound server capture: the server refused the stream";
        return rc;
    }
    m_openFailure.clear();
    m_queue.Open(std::move(onDone));
    m_failed = false;
    return WaveOk;
}

int PulseWaveIn::Connect()
{
    return m_server.Connect([this] { Fail(); }) ? WaveOk : WaveErrNoDevice;
}

int PulseWaveIn::Prepare(WaveHeader* header)
{
    return m_queue.Prepare(header);
}

int PulseWaveIn::Unprepare(WaveHeader* header)
{
    return m_queue.Unprepare(header);
}

// A failed device still takes headers, so that Reset gives them back like
// any other.
int PulseWaveIn::AddBuffer(WaveHeader* header)
{
    return m_queue.Add(header);
}

int PulseWaveIn::Start()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_failed) {
        if (Connect() != WaveOk)
            return WaveErrDevice;
        m_failed = false;
    }
    if (!m_stream && OpenStream() != WaveOk) {
        Fail();
        return WaveErrDevice;
    }
    if (m_started)
        return WaveOk;
    Cork(false);
    m_started = true;
    return WaveOk;
}

// The stream lives from Open to Close, corked between calls: a stream made
// afresh for every call may wait long (up to seconds on a quiet source) for
// its first sound, where an uncorked one brings it at the server's next
// period.
int PulseWaveIn::OpenStream()
{
    m_stream = NewPhoneStream(m_server.Server().Handle());
    if (!m_stream)
        return WaveErrNoDevice;
    pa_stream_set_state_callback(m_stream.get(), &PulseWaveIn::OnStreamState, this);
    pa_stream_set_read_callback(m_stream.get(), &PulseWaveIn::OnReadable, this);
    pa_buffer_attr attr{};
    attr.maxlength = kServerQueueBytes;
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    attr.fragsize = kFragmentBytes;
    m_corked = true;
    if (pa_stream_connect_record(
            m_stream.get(),
            m_device.empty() ? DeviceFromEnvironment("PULSE_SOURCE") : m_device.c_str(), &attr,
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED)) <
        0) {
        m_stream.reset();
        return WaveErrNoDevice;
    }
    return WaveOk;
}

void PulseWaveIn::Cork(bool cork)
{
    if (!m_stream || cork == m_corked)
        return;
    m_corked = cork;
    // A stream still connecting takes the wish once it is ready.
    if (pa_stream_get_state(m_stream.get()) != PA_STREAM_READY)
        return;
    if (pa_operation* op = pa_stream_cork(m_stream.get(), cork ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
    // What the server still holds from before is not this call's.
    if (cork)
        if (pa_operation* op = pa_stream_flush(m_stream.get(), nullptr, nullptr))
            pa_operation_unref(op);
}

int PulseWaveIn::Stop()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_started) {
        Pump();  // what has arrived belongs to the header being filled
        Pause();
    }
    m_queue.Stop();
    return WaveOk;
}

int PulseWaveIn::Reset()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    Pause();
    m_queue.Reset();
    return WaveOk;
}

// The caller may free its headers once this returns.
int PulseWaveIn::Close()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    StopStream();
    m_queue.Close();
    m_server.Release();
    return WaveOk;
}

void PulseWaveIn::OnStreamState(pa_stream* stream, void* userdata)
{
    auto* self = static_cast<PulseWaveIn*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        self->Fail();
    else if (state == PA_STREAM_READY && !self->m_corked)
        if (pa_operation* op = pa_stream_cork(stream, 0, nullptr, nullptr))
            pa_operation_unref(op);
}

// In a call, what the server sends waits in the library until it fills the
// oldest header: a server that sends in small pieces then costs one read
// per buffer, not one per piece. Buffers filled here go back at once: this
// is the event loop calling, not a call of ours, so nothing needs posting.
void PulseWaveIn::OnReadable(pa_stream*, size_t readableBytes, void* userdata)
{
    auto* self = static_cast<PulseWaveIn*>(userdata);
    if (self->m_started && !self->m_queue.IsEmpty()) {
        const WaveHeader* head = self->m_queue.Head();
        if (readableBytes < head->bufferLength - head->bytesRecorded)
            return;
    }
    self->m_queue.HoldCompletions();
    self->Pump();
    if (self->m_queue.WaitingCount() > 0)
        self->HoldUntilNextBuffer();
    // The last use of the device: a callback may close or destroy it.
    self->m_queue.DispatchNow();
}

// Takes every fragment the library holds; a hole (sound the server lost)
// is skipped.
void PulseWaveIn::Pump()
{
    while (m_stream) {
        const void* data = nullptr;
        size_t byteCount = 0;
        if (pa_stream_peek(m_stream.get(), &data, &byteCount) < 0) {
            Fail();
            return;
        }
        if (byteCount == 0)
            return;
        m_lastChunkBytes = byteCount;
        if (data && m_started)
            m_queue.Deliver(std::span(static_cast<const uint8_t*>(data), byteCount));
        pa_stream_drop(m_stream.get());
    }
}

// A server that sends capture in pieces much smaller than a buffer (one
// whose source runs at a short latency for another client) would wake us
// for each; nothing is needed from it before the next buffer is full, so
// its reads wait until then and come in one wake. The loop's other clients
// (playback, the mixer) ride that wake too: they need nothing sooner.
void PulseWaveIn::HoldUntilNextBuffer()
{
    if (!m_started || m_queue.IsEmpty() || m_lastChunkBytes * 2 > kFragmentBytes)
        return;
    const WaveHeader* head = m_queue.Head();
    const uint32_t missingBytes = head->bufferLength - head->bytesRecorded;
    const int missingMs = int(missingBytes / kWaveBytesPerMs);
    m_server.Server().Loop().HoldReadsFor(missingMs + 3);
}

// Between calls the stream is corked: nothing runs, nothing wakes.
void PulseWaveIn::Pause()
{
    m_started = false;
    Cork(true);
}

void PulseWaveIn::StopStream()
{
    m_started = false;
    m_stream.reset();
}

// The server or the stream is gone: keep the headers for Reset/Close.
void PulseWaveIn::Fail()
{
    m_failed = true;
    m_started = false;
    m_stream.reset();
}

}  // namespace velnar
