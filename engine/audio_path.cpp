// The audio path: capture in 20-ms buffers, noise gate, GSM encoding and
// sending; decoding received frames into a playback queue that pre-fills
// four blocks before it plays and never holds more than 13 unplayed blocks.
#include "engine/iax_phone.h"

#include "engine/noise_gate.h"
#include "iax/iax.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

namespace velnar {

namespace {

constexpr int kMaxPendingBlocks = 12;  // one more makes 13 unplayed blocks
constexpr int kPrefillBlocks = 3;      // playing resumes at the fourth block
constexpr std::chrono::seconds kPlaybackRetryInterval{1};

}  // namespace

int CIaxPhone::OpenAudio() {
    if (!m_hWaveOut || !m_hWaveIn)
        return 1;
    if (m_hWaveOut->Open() != WaveOk)
        return 1;
    std::weak_ptr<bool> alive = m_alive;
    auto onDone = [this, alive](WaveHeader* header) {
        if (auto token = alive.lock(); token && *token)
            OnCaptureDone(header);
    };
    if (m_hWaveIn->Open(onDone) != WaveOk) {
        m_hWaveOut->Reset();
        m_hWaveOut->Close();
        return 1;
    }
    m_capture.Clear();
    m_audioOpen = true;
    return 0;
}

void CIaxPhone::CloseAudio() {
    if (!m_audioOpen)
        return;
    m_hWaveIn->Stop();
    m_hWaveIn->Reset();
    m_hWaveIn->Close();
    m_hWaveOut->Reset();
    m_hWaveOut->Close();
    m_audioOpen = false;
}

// At the start of every call, before anything is sent: devices that could
// not be opened (at start-up or at an earlier call) are opened again, and
// GSM is advertised once both are; playback starts from nothing, not
// paused, which also opens a playback device again that failed since (its
// Restart does). Capture's Start does the same for a failed capture device.
void CIaxPhone::ReviveAudio() {
    if (!m_audioOpen) {
        if (OpenAudio() == 0)
            IaxSetFormats(kGsmFormat);
        m_playbackPaused = false;
        return;
    }
    m_hWaveOut->Reset();
    ReclaimPlayback();
    m_hWaveOut->Restart();
    m_playbackPaused = false;
}

// A paused device plays nothing, so a block it marks done at once was
// swallowed by a device that failed mid-call (the sound server went away).
// Opening it again is tried at most once a second, so that a server that
// stays away cannot make the engine spin.
void CIaxPhone::RetryFailedPlayback() {
    const auto now = std::chrono::steady_clock::now();
    if (m_lastPlaybackRetry && now - *m_lastPlaybackRetry < kPlaybackRetryInterval)
        return;
    m_lastPlaybackRetry = now;
    m_hWaveOut->Reset();
    m_hWaveOut->Restart();
    m_playbackPaused = false;
}

int CIaxPhone::StartCapture() {
    if (!m_audioOpen)
        return -1;
    return m_capture.Start();
}

int CIaxPhone::OnCaptureDone(WaveHeader* header) {
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

void CIaxPhone::SendCaptured(const WaveHeader* header) {
    PhoneCall* call = m_pCurrentCall;
    if (!call || header->bufferLength != kPcmFrameBytes)
        return;
    if (!call->encoder)
        call->encoder = MakeGsmState();
    if (!call->encoder)
        return;
    uint8_t frame[kGsmFrameBytes];
    GsmEncodeFrame(call->encoder.get(), header->data, frame);
    IaxSendVoice(call->session, kGsmFormat, frame, kGsmFrameBytes);
    ArmLibraryTimer();
}

// Device results are not looked at: a buffer that cannot be requeued stays
// out until the next call's StartCapture.
void CIaxPhone::RecycleCapture(WaveHeader* header) {
    m_capture.Recycle(header, !m_bIdle);
}

void CIaxPhone::PlayVoice(IaxEvent* event, PhoneCall* call) {
    int lengthBytes = event->media.length;
    if (lengthBytes < 0 || lengthBytes % kGsmFrameBytes != 0)
        return;
    if (!call->decoder)
        call->decoder = MakeGsmState();
    if (!call->decoder)
        return;
    ReclaimPlayback();
    const uint8_t* data = event->media.data;
    for (int offset = 0; data && offset < lengthBytes; offset += kGsmFrameBytes) {
        uint8_t pcm[kPcmFrameBytes];
        if (!GsmDecodeFrame(call->decoder.get(), data + offset, pcm))
            return;
        int pending = PendingPlaybackBlocks();
        if (pending > kMaxPendingBlocks)
            continue;
        if (!QueuePlayback(pcm, pending))
            return;
    }
}

// False when the device refused the block (a device that vanished mid-call
// must not end the program); the rest of the event is then dropped.
bool CIaxPhone::QueuePlayback(const uint8_t* pcm, int pendingBlocks) {
    PlaybackBuffer* block = new (std::nothrow) PlaybackBuffer;
    if (!block)
        std::exit(255);
    std::memcpy(block->samples, pcm, kPcmFrameBytes);
    block->header.data = block->samples;
    block->header.bufferLength = kPcmFrameBytes;
    if (!m_audioOpen || m_hWaveOut->Prepare(&block->header) != WaveOk) {
        delete block;
        return false;
    }
    if (pendingBlocks == 0 && !m_playbackPaused) {
        m_hWaveOut->Pause();
        m_playbackPaused = true;
    }
    if (m_hWaveOut->Write(&block->header) != WaveOk) {
        m_hWaveOut->Unprepare(&block->header);
        delete block;
        return false;
    }
    const bool swallowed = m_playbackPaused && (block->header.flags & WaveDone);
    if (pendingBlocks >= kPrefillBlocks && m_playbackPaused) {
        m_hWaveOut->Restart();
        m_playbackPaused = false;
    }
    PlaybackBuffer** tail = &m_pPlaybackQueue;
    while (*tail)
        tail = &(*tail)->next;
    *tail = block;
    if (swallowed)
        RetryFailedPlayback();
    return true;
}

int CIaxPhone::PendingPlaybackBlocks() const {
    int pending = 0;
    for (const PlaybackBuffer* block = m_pPlaybackQueue; block; block = block->next)
        if (!(block->header.flags & WaveDone))
            ++pending;
    return pending;
}

void CIaxPhone::ReclaimPlayback() {
    PlaybackBuffer** link = &m_pPlaybackQueue;
    while (PlaybackBuffer* block = *link) {
        if (block->header.flags & WaveDone) {
            m_hWaveOut->Unprepare(&block->header);
            *link = block->next;
            delete block;
        } else {
            link = &block->next;
        }
    }
}

// At destruction, after the device has been reset and closed.
void CIaxPhone::ReleasePlayback() {
    while (PlaybackBuffer* block = m_pPlaybackQueue) {
        m_pPlaybackQueue = block->next;
        delete block;
    }
}

}  // namespace velnar
