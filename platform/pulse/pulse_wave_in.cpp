#include "platform/pulse/pulse_wave_in.h"

#include "platform/wave_header_rules.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstring>

namespace velnar {

namespace {

constexpr uint32_t kBytesPerFrame = 2;  // one 16-bit mono sample
constexpr uint32_t kBytesPerMs = 16;
// One 20-ms buffer per fragment: the server wakes us once per buffer.
constexpr uint32_t kFragmentBytes = 320;
// What the server keeps for us while the event loop is busy: 1 s.
constexpr uint32_t kServerQueueBytes = 16000;

}  // namespace

PulseWaveIn::PulseWaveIn() = default;

PulseWaveIn::~PulseWaveIn()
{
    if (m_mailbox)
        Close();
}

int PulseWaveIn::Open(DoneFn onDone)
{
    if (m_mailbox)
        Close();
    if (const int rc = Connect(); rc != WaveOk)
        return rc;
    if (const int rc = OpenStream(); rc != WaveOk) {
        m_server.Release();
        return rc;
    }
    m_mailbox = std::make_shared<Mailbox>();
    m_mailbox->onDone = std::move(onDone);
    // Lives as long as the device: Close may be called from a callback that
    // this object is delivering.
    if (!m_context)
        m_context = std::make_unique<QObject>();
    m_failed = false;
    return WaveOk;
}

int PulseWaveIn::Connect()
{
    return m_server.Connect([this] { Fail(); }) ? WaveOk : WaveErrNoDevice;
}

int PulseWaveIn::Prepare(WaveHeader* header)
{
    return m_mailbox ? PrepareHeader(header) : WaveErrNotOpen;
}

int PulseWaveIn::Unprepare(WaveHeader* header)
{
    return m_mailbox ? UnprepareHeader(header) : WaveErrNotOpen;
}

int PulseWaveIn::AddBuffer(WaveHeader* header)
{
    if (!m_mailbox)
        return WaveErrNotOpen;
    // A failed device still takes headers, so that Reset gives them back
    // like any other.
    const int rc = QueueHeader(header);
    if (rc == WaveOk)
        m_queue.push_back(header);
    return rc;
}

int PulseWaveIn::Start()
{
    if (!m_mailbox)
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
    if (!m_mailbox)
        return WaveErrNotOpen;
    if (m_started) {
        Pump();  // what has arrived belongs to the header being filled
        Pause();
    }
    if (!m_queue.empty() && m_queue.front()->bytesRecorded > 0)
        CompleteHead();
    return WaveOk;
}

int PulseWaveIn::Reset()
{
    if (!m_mailbox)
        return WaveErrNotOpen;
    Pause();
    while (!m_queue.empty())
        CompleteHead();
    return WaveOk;
}

int PulseWaveIn::Close()
{
    if (!m_mailbox)
        return WaveErrNotOpen;
    StopStream();
    // The caller may free its headers now: let go of them without calling
    // back, and cancel completions still on their way.
    for (WaveHeader* header : m_queue)
        FinishHeader(header);
    m_queue.clear();
    m_mailbox->open = false;
    m_mailbox.reset();
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
    if (self->m_started && !self->m_queue.empty()) {
        const WaveHeader* head = self->m_queue.front();
        if (readableBytes < head->bufferLength - head->bytesRecorded)
            return;
    }
    self->m_collecting = true;
    self->Pump();
    self->m_collecting = false;
    if (self->m_ready.empty())
        return;
    self->HoldUntilNextBuffer();
    std::vector<WaveHeader*> ready;
    ready.swap(self->m_ready);
    HandBack(self->m_mailbox, ready);
}

// A callback may close or destroy the device: only the mailbox is used.
void PulseWaveIn::HandBack(std::shared_ptr<Mailbox> mailbox, const std::vector<WaveHeader*>& ready)
{
    for (WaveHeader* header : ready)
        if (mailbox && mailbox->open && mailbox->onDone)
            mailbox->onDone(header);
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
            Deliver(static_cast<const uint8_t*>(data), byteCount);
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
    if (!m_started || m_queue.empty() || m_lastChunkBytes * 2 > kFragmentBytes)
        return;
    const WaveHeader* head = m_queue.front();
    const uint32_t missingBytes = head->bufferLength - head->bytesRecorded;
    const int missingMs = int(missingBytes / kBytesPerMs);
    m_server.Server().Loop().HoldReadsFor(missingMs + 3);
}

// Fills the oldest headers in order, completing each once full (a header
// too small for one more frame counts as full); drops what is left over.
void PulseWaveIn::Deliver(const uint8_t* bytes, size_t byteCount)
{
    while (byteCount > 0 && !m_queue.empty()) {
        WaveHeader* header = m_queue.front();
        const uint32_t roomBytes =
            (header->bufferLength - header->bytesRecorded) / kBytesPerFrame * kBytesPerFrame;
        const size_t takenBytes = std::min<size_t>(roomBytes, byteCount);
        std::memcpy(header->data + header->bytesRecorded, bytes, takenBytes);
        header->bytesRecorded += static_cast<uint32_t>(takenBytes);
        bytes += takenBytes;
        byteCount -= takenBytes;
        if (header->bufferLength - header->bytesRecorded < kBytesPerFrame)
            CompleteHead();
    }
}

void PulseWaveIn::CompleteHead()
{
    WaveHeader* header = m_queue.front();
    m_queue.pop_front();
    FinishHeader(header);
    if (m_collecting) {
        m_ready.push_back(header);
        return;
    }
    QMetaObject::invokeMethod(
        m_context.get(),
        [mailbox = m_mailbox, header] {
            if (mailbox->open && mailbox->onDone)
                mailbox->onDone(header);
        },
        Qt::QueuedConnection);
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
