#include "platform/alsa/alsa_wave_out.h"

#include "platform/wave_format.h"

#include <poll.h>

namespace velnar {

namespace {

constexpr unsigned short kPollFault = POLLERR | POLLHUP | POLLNVAL;
constexpr int kRecoveriesPerWakeup = 2;

AlsaPcmSetup PlaybackSetup()
{
    AlsaPcmSetup setup;
    setup.stream = SND_PCM_STREAM_PLAYBACK;
    // 80 ms: enough to ride out a busy event loop, short enough that
    // "handed to the device" stays close to "played".
    setup.bufferPeriods = 4;
    // Start with the second 20-ms block: the caller does its own pre-filling,
    // and a sound server started on a single period runs dry at once.
    // (A lone block written to a stopped device waits for the next one.)
    setup.startThresholdFrames = kWavePeriodFrames * 2;
    return setup;
}

}  // namespace

AlsaWaveOut::AlsaWaveOut(std::string pcmName, PauseMode pauseMode)
    : m_pcmName(std::move(pcmName)), m_madeWithName(m_pcmName), m_pauseMode(pauseMode)
{}

AlsaWaveOut::~AlsaWaveOut()
{
    if (m_queue.IsOpen())
        Close();
}

void AlsaWaveOut::SelectDevice(const std::string& id)
{
    m_pcmName = id.empty() ? m_madeWithName : id;
}

int AlsaWaveOut::Open()
{
    if (m_queue.IsOpen())
        Close();
    if (const int rc = OpenPcm(); rc != WaveOk)
        return rc;
    m_queue.Open();
    m_paused = false;
    m_failed = false;
    m_deviceFull = false;
    return WaveOk;
}

int AlsaWaveOut::OpenPcm()
{
    const int rc = m_pcm.Open(m_pcmName, PlaybackSetup(),
                              [this](unsigned short revents) { return OnReady(revents); });
    if (rc == WaveOk)
        m_staging.resize(m_pcm.BufferFrames() * kWaveBytesPerFrame);
    return rc;
}

int AlsaWaveOut::Prepare(WaveHeader* header)
{
    return m_queue.Prepare(header);
}

int AlsaWaveOut::Unprepare(WaveHeader* header)
{
    return m_queue.Unprepare(header);
}

int AlsaWaveOut::Write(WaveHeader* header)
{
    if (const int rc = m_queue.Add(header); rc != WaveOk)
        return rc;
    // A failed device swallows blocks: the caller keeps running (its
    // reaction to a failed write is to end the program), nothing piles up.
    if (m_failed)
        m_queue.MarkAllDone();
    else if (m_deviceFull)
        UpdateWatching();
    else
        Feed();
    return WaveOk;
}

int AlsaWaveOut::Pause()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (!m_paused && !m_failed)
        HoldDevice();
    m_paused = true;
    UpdateWatching();
    return WaveOk;
}

int AlsaWaveOut::Restart()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_paused = false;
    m_deviceFull = false;
    if (m_failed && OpenPcm() == WaveOk)
        m_failed = false;
    if (!m_failed) {
        ReleaseDevice();
        Feed();
    }
    return WaveOk;
}

int AlsaWaveOut::Reset()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_pcm.IsOpen()) {
        snd_pcm_drop(m_pcm.Handle());
        snd_pcm_prepare(m_pcm.Handle());
    }
    m_deviceFull = false;
    m_queue.MarkAllDone();
    UpdateWatching();
    return WaveOk;
}

int AlsaWaveOut::Close()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_pcm.Close();
    m_queue.Close();
    m_paused = false;
    return WaveOk;
}

// Returns whether any sound moved.
bool AlsaWaveOut::OnReady(unsigned short revents)
{
    if ((revents & kPollFault) && m_pcm.RecoverFromPollError() == PcmRecovery::Failed) {
        Fail();
        return false;
    }
    m_deviceFull = false;
    return Feed();
}

// Hands the device all it takes; returns whether it took anything.
bool AlsaWaveOut::Feed()
{
    bool moved = false;
    int recoveries = 0;
    while (!m_queue.IsEmpty() && !m_paused && !m_failed && !m_deviceFull) {
        const size_t offeredBytes = m_queue.Gather(m_staging);
        snd_pcm_sframes_t frames = 0;
        if (offeredBytes > 0)
            frames =
                snd_pcm_writei(m_pcm.Handle(), m_staging.data(), offeredBytes / kWaveBytesPerFrame);
        if (frames < 0) {
            const PcmRecovery recovery = m_pcm.Recover(static_cast<int>(frames));
            if (recovery == PcmRecovery::Failed) {
                Fail();
                return moved;
            }
            if (recovery == PcmRecovery::Again)
                m_deviceFull = true;
            if (recovery == PcmRecovery::Again || ++recoveries > kRecoveriesPerWakeup)
                break;
            continue;
        }
        const size_t handedBytes = static_cast<size_t>(frames) * kWaveBytesPerFrame;
        m_queue.TakeHanded(handedBytes);
        moved = moved || frames > 0;
        // Asking again would only cost a plugin call that finds no room.
        if (handedBytes < offeredBytes)
            m_deviceFull = true;
    }
    UpdateWatching();
    return moved;
}

bool AlsaWaveOut::IsPlayingOut() const
{
    snd_pcm_t* pcm = m_pcm.Handle();
    if (!pcm || m_failed || snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING)
        return false;
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
    return avail >= 0 && snd_pcm_uframes_t(avail) < m_pcm.BufferFrames();
}

void AlsaWaveOut::HoldDevice()
{
    snd_pcm_t* pcm = m_pcm.Handle();
    if (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING)
        return;
    if (m_pauseMode == PauseMode::DeviceWhereSupported && m_pcm.CanPause() &&
        snd_pcm_pause(pcm, 1) == 0)
        return;
    // No pause in this device: silence it now; what it held is lost.
    snd_pcm_drop(pcm);
    snd_pcm_prepare(pcm);
}

void AlsaWaveOut::ReleaseDevice()
{
    snd_pcm_t* pcm = m_pcm.Handle();
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PAUSED && snd_pcm_pause(pcm, 0) < 0) {
        snd_pcm_drop(pcm);
        snd_pcm_prepare(pcm);
    }
}

// Woken only while there is something to hand over: an idle playback
// device is always writable and would otherwise spin the event loop.
void AlsaWaveOut::UpdateWatching()
{
    m_pcm.SetWatching(!m_failed && !m_paused && !m_queue.IsEmpty());
}

void AlsaWaveOut::Fail()
{
    m_failed = true;
    m_pcm.Close();
    m_queue.MarkAllDone();
}

}  // namespace velnar
