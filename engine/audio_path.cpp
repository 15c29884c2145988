// The audio path: capture in 20-ms buffers, noise gate, encoding (GSM, or
// G.711 with version 2) and sending; decoding received frames into a
// playback queue that pre-fills
// four blocks before it plays, never holds more than 13 unplayed blocks, and
// between those holds the delay of continuous speech.
#include "engine/iax_phone.h"

#include "engine/g711_codec.h"
#include "engine/gsm_codec.h"
#include "engine/noise_gate.h"

#include <cstdio>
#include <string>

namespace velnar {

static_assert(kPcmFrameBytes == kPlayoutBlockBytes, "one decoded frame is one playback block");

namespace {

constexpr int kSamplesPerFrame = kPcmFrameBytes / 2;

// Bytes of one 20-ms frame in the format; 0 for a format we do not speak.
int FrameBytesOf(uint32_t format)
{
    switch (format) {
    case kLinkGsm: return kGsmFrameBytes;
    case kLinkUlaw:
    case kLinkAlaw: return kG711FrameBytes;
    default: return 0;
    }
}

// The device's own account of its failure, else what its code says.
std::string OpenFailureText(const std::string& told, const char* role, int error)
{
    if (!told.empty())
        return told;
    return std::string(role) + ": " +
           (error == WaveErrNoDevice ? "the device could not be opened" : "the device failed");
}

}  // namespace

int CIaxPhone::OpenAudio()
{
    if (!m_hWaveOut || !m_hWaveIn)
        return 1;
    if (const int rc = m_hWaveOut->Open(); rc != WaveOk) {
        m_audioFailure = OpenFailureText(m_hWaveOut->OpenFailure(), "playback", rc);
        return 1;
    }
    std::weak_ptr<bool> alive = m_alive;
    auto onDone = [this, alive](WaveHeader* header) {
        if (auto token = alive.lock(); token && *token)
            OnCaptureDone(header);
    };
    if (const int rc = m_hWaveIn->Open(onDone); rc != WaveOk) {
        m_audioFailure = OpenFailureText(m_hWaveIn->OpenFailure(), "capture", rc);
        m_hWaveOut->Reset();
        m_hWaveOut->Close();
        return 1;
    }
    m_capture.Clear();
    m_audioOpen = true;
    return 0;
}

// Calls still connect without sound; a user who hears nothing must learn why
// without looking for it. Said once, at start: the devices are tried again
// at every call.
void CIaxPhone::ReportNoSound() const
{
    if (m_audioFailure.empty())
        return;
    std::fprintf(stderr, "velnar: no sound: %s\n", m_audioFailure.c_str());
    std::fflush(stderr);
}

void CIaxPhone::CloseAudio()
{
    if (!m_audioOpen)
        return;
    m_capture.Stop();
    m_hWaveIn->Close();
    m_hWaveOut->Reset();
    m_hWaveOut->Close();
    m_audioOpen = false;
}

// At the start of every call, before anything is sent: the pair switches to
// newly chosen devices (closed here, opened below), devices that could
// not be opened (at start-up or at an earlier call) are opened again, and
// GSM is advertised once both are; playback starts from nothing, not
// paused, which also opens a playback device again that failed since (its
// Restart does). Capture's Start does the same for a failed capture device.
void CIaxPhone::ReviveAudio()
{
    ApplyDeviceChoice();
    if (!m_audioOpen) {
        if (OpenAudio() == 0 && m_link)
            m_link->OfferCodecs();
        m_playback.ForgetPause();
        return;
    }
    m_playback.Restart();
}

void CIaxPhone::RetryFailedPlayback()
{
    m_playback.RetryFailed();
}

int CIaxPhone::StartCapture()
{
    if (!m_audioOpen)
        return -1;
    return m_capture.Start();
}

int CIaxPhone::OnCaptureDone(WaveHeader* header)
{
    // A completion posted before a new call re-queued the same header is
    // stale: the device holds the buffer again.
    if (header->flags & WaveInQueue)
        return 0;
    if (!m_bTalking) {
        RecycleCapture(header);
        return 0;
    }
    if (header->bytesRecorded != header->bufferLength) {
        RecycleCapture(header);
        SetStatus("Buffer to short");
        return -1;
    }
    if (static_cast<int64_t>(CaptureLevel(header->data, header->bufferLength)) >= m_nNoiseThreshold)
        SendCaptured(header);
    RecycleCapture(header);
    return 0;
}

void CIaxPhone::SendCaptured(const WaveHeader* header)
{
    PhoneCall* call = m_pCurrentCall;
    if (!call || header->bufferLength != kPcmFrameBytes)
        return;
    uint8_t frame[kG711FrameBytes];
    const int frameBytes = EncodeBlock(call, header->data, frame);
    if (frameBytes <= 0)
        return;
    if (m_link->SendVoice(call->session, call->format, frame, frameBytes, kSamplesPerFrame) == 0)
        m_stats.FrameSent(static_cast<int>(call->format));
    ArmLibraryTimer();
}

// One 20-ms block of speech in the call's format; its length, or 0.
int CIaxPhone::EncodeBlock(PhoneCall* call, const uint8_t* pcm, uint8_t* frame)
{
    const auto* samples = reinterpret_cast<const int16_t*>(pcm);
    switch (call->format) {
    case kLinkUlaw: MuLawEncode(samples, kSamplesPerFrame, frame); return kG711FrameBytes;
    case kLinkAlaw: ALawEncode(samples, kSamplesPerFrame, frame); return kG711FrameBytes;
    case kLinkGsm:
        if (!call->encoder)
            call->encoder = MakeGsmState();
        if (!call->encoder)
            return 0;
        GsmEncodeFrame(call->encoder.get(), pcm, frame);
        return kGsmFrameBytes;
    default: return 0;
    }
}

// Device results are not looked at: a buffer that cannot be requeued stays
// out until the next call's StartCapture.
void CIaxPhone::RecycleCapture(WaveHeader* header)
{
    m_capture.Recycle(header, !m_bIdle);
}

// A call may switch codecs; each message is decoded in its own.
void CIaxPhone::PlayVoice(const LinkEvent& event, PhoneCall* call)
{
    const int frameBytes = FrameBytesOf(event.format);
    const int lengthBytes = event.lengthBytes;
    if (frameBytes == 0 || lengthBytes < 0 || lengthBytes % frameBytes != 0)
        return;
    ReclaimPlayback();
    const uint8_t* data = event.data;
    for (int offset = 0; data && offset < lengthBytes; offset += frameBytes) {
        uint8_t pcm[kPcmFrameBytes];
        if (!DecodeBlock(call, event.format, data + offset, pcm))
            return;
        if (!m_playback.HasRoom())
            continue;
        if (!QueuePlayback(pcm, PendingPlaybackBlocks()))
            return;
    }
}

bool CIaxPhone::DecodeBlock(PhoneCall* call, uint32_t format, const uint8_t* data, uint8_t* pcm)
{
    auto* samples = reinterpret_cast<int16_t*>(pcm);
    switch (format) {
    case kLinkUlaw: MuLawDecode(data, kSamplesPerFrame, samples); return true;
    case kLinkAlaw: ALawDecode(data, kSamplesPerFrame, samples); return true;
    default:
        if (!call->decoder)
            call->decoder = MakeGsmState();
        return call->decoder && GsmDecodeFrame(call->decoder.get(), data, pcm);
    }
}

// False when the device refused the block (a device that vanished mid-call
// must not end the program); the rest of the event is then dropped.
bool CIaxPhone::QueuePlayback(const uint8_t* pcm, int pendingBlocks)
{
    if (!m_audioOpen)
        return false;
    return m_playback.Queue(PlayoutBlock::Of(pcm), pendingBlocks);
}

int CIaxPhone::PendingPlaybackBlocks() const
{
    return m_playback.Pending();
}

void CIaxPhone::ReclaimPlayback()
{
    m_playback.Reclaim();
}

// At destruction, after the device has been reset and closed.
void CIaxPhone::ReleasePlayback()
{
    m_playback.Release();
}

}  // namespace velnar
