#include "platform/alsa/alsa_wave_in.h"

#include "platform/wave_format.h"

#include <cerrno>
#include <span>
#include <utility>

#include <poll.h>

namespace velnar {

namespace {

constexpr unsigned short kPollFault = POLLERR | POLLHUP | POLLNVAL;
// Recoveries allowed within one wake-up, so that a device that keeps
// failing in the same way cannot hold the event loop.
constexpr int kRecoveriesPerWakeup = 2;

AlsaPcmSetup CaptureSetup()
{
    AlsaPcmSetup setup;
    setup.stream = SND_PCM_STREAM_CAPTURE;
    // A long capture buffer costs no delay and rides out a busy event loop.
    setup.bufferPeriods = 8;
    return setup;
}

}  // namespace

AlsaWaveIn::AlsaWaveIn(std::string pcmName)
    : m_pcmName(std::move(pcmName)), m_madeWithName(m_pcmName)
{}

void AlsaWaveIn::SelectDevice(const std::string& id)
{
    m_pcmName = id.empty() ? m_madeWithName : id;
}

AlsaWaveIn::~AlsaWaveIn()
{
    if (m_queue.IsOpen())
        Close();
}

int AlsaWaveIn::Open(DoneFn onDone)
{
    if (m_queue.IsOpen())
        Close();
    if (const int rc = OpenPcm(); rc != WaveOk)
        return rc;
    m_queue.Open(std::move(onDone));
    m_failed = false;
    m_started = false;
    return WaveOk;
}

// The PCM is only prepared here: it captures from the first Start on. Stop
// pauses it where the device can pause (the sound-server plugin then corks
// its record stream and keeps it connected, so that the next Start brings
// sound at once; stopping it would end the stream, and a new stream on a
// quiet source may wait seconds for its first sound). A device that cannot
// pause is stopped and prepared again; hardware starts quickly.
int AlsaWaveIn::OpenPcm()
{
    const int rc = m_pcm.Open(m_pcmName, CaptureSetup(),
                              [this](unsigned short revents) { return OnReady(revents); });
    if (rc != WaveOk)
        return rc;
    m_staging.resize(m_pcm.BufferFrames() * kWaveBytesPerFrame);
    return WaveOk;
}

int AlsaWaveIn::Prepare(WaveHeader* header)
{
    return m_queue.Prepare(header);
}

int AlsaWaveIn::Unprepare(WaveHeader* header)
{
    return m_queue.Unprepare(header);
}

// A failed device still takes headers, so that Reset gives them back like
// any other.
int AlsaWaveIn::AddBuffer(WaveHeader* header)
{
    return m_queue.Add(header);
}

int AlsaWaveIn::Start()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_failed) {
        if (OpenPcm() != WaveOk)
            return WaveErrDevice;
        m_failed = false;
    }
    if (m_started)
        return WaveOk;
    if (!EnsureRunning()) {
        Fail();
        return WaveErrDevice;
    }
    // What the device holds was captured before this start (before the last
    // pause); the newest period of it stays, so that the first buffer is
    // full within a period of the start, and the rest is skipped.
    const snd_pcm_sframes_t held = snd_pcm_avail(m_pcm.Handle());
    if (held > static_cast<snd_pcm_sframes_t>(kWavePeriodFrames))
        snd_pcm_forward(m_pcm.Handle(), static_cast<snd_pcm_uframes_t>(held) - kWavePeriodFrames);
    m_started = true;
    m_pcm.SetWatching(true);
    return WaveOk;
}

// Brings the PCM to running from whatever state the last Stop (or a fault
// since) left it in: prepared, paused, overrun or suspended.
bool AlsaWaveIn::EnsureRunning()
{
    snd_pcm_t* pcm = m_pcm.Handle();
    // A suspend may resume into the paused state: a second round then
    // releases the pause.
    for (int round = 0; round < 2; ++round) {
        switch (snd_pcm_state(pcm)) {
        case SND_PCM_STATE_RUNNING: return true;
        case SND_PCM_STATE_PAUSED:
            if (const int rc = snd_pcm_pause(pcm, 0); rc == 0)
                return true;
            else if (rc == -EPIPE || rc == -ESTRPIPE)
                return m_pcm.Recover(rc) == PcmRecovery::Recovered;
            // A pause that cannot be released: start afresh.
            snd_pcm_drop(pcm);
            return snd_pcm_prepare(pcm) == 0 && snd_pcm_start(pcm) == 0;
        case SND_PCM_STATE_XRUN: return m_pcm.Recover(-EPIPE) == PcmRecovery::Recovered;
        case SND_PCM_STATE_SUSPENDED:
            if (m_pcm.Recover(-ESTRPIPE) != PcmRecovery::Recovered)
                return false;
            continue;
        default:
            return (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED || snd_pcm_prepare(pcm) == 0) &&
                   snd_pcm_start(pcm) == 0;
        }
    }
    return snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING;
}

// Between calls nothing is read and nothing wakes us: the PCM is paused
// where it can be, else stopped and prepared for the next Start.
void AlsaWaveIn::Halt()
{
    m_started = false;
    if (!m_pcm.IsOpen())
        return;
    m_pcm.SetWatching(false);
    snd_pcm_t* pcm = m_pcm.Handle();
    if (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING && snd_pcm_pause(pcm, 1) == 0)
        return;
    if (snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED) {
        snd_pcm_drop(pcm);
        // One that cannot be prepared now gets another try at Start.
        snd_pcm_prepare(pcm);
    }
}

int AlsaWaveIn::Stop()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_started) {
        Pump();  // what the device holds belongs to the header being filled
        Halt();
    }
    m_queue.Stop();
    return WaveOk;
}

int AlsaWaveIn::Reset()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    if (m_started)
        Halt();
    m_queue.Reset();
    return WaveOk;
}

// The caller may free its headers once this returns.
int AlsaWaveIn::Close()
{
    if (!m_queue.IsOpen())
        return WaveErrNotOpen;
    m_pcm.Close();
    m_started = false;
    m_queue.Close();
    return WaveOk;
}

// Returns whether any sound moved.
bool AlsaWaveIn::OnReady(unsigned short revents)
{
    if ((revents & kPollFault) && m_pcm.RecoverFromPollError() == PcmRecovery::Failed) {
        Fail();
        return false;
    }
    return Pump();
}

// Reads everything the device has into the headers (what no header has room
// for is dropped); returns whether anything was read.
bool AlsaWaveIn::Pump()
{
    const auto capacityFrames =
        static_cast<snd_pcm_sframes_t>(m_staging.size() / kWaveBytesPerFrame);
    bool moved = false;
    int recoveries = 0;
    while (m_pcm.IsOpen() && !m_failed) {
        const snd_pcm_sframes_t frames = ReadAvailable();
        if (frames > 0) {
            moved = true;
            // A short read has emptied the device: asking again would only
            // cost a plugin call that finds nothing.
            if (frames < capacityFrames)
                break;
            continue;
        }
        if (frames == 0)
            break;
        const PcmRecovery recovery = m_pcm.Recover(static_cast<int>(frames));
        if (recovery == PcmRecovery::Failed)
            Fail();
        if (recovery != PcmRecovery::Recovered || ++recoveries > kRecoveriesPerWakeup)
            break;
    }
    return moved;
}

// One read of up to the whole device buffer, shared out to the queued
// headers. Returns the frames read or a negative ALSA error.
snd_pcm_sframes_t AlsaWaveIn::ReadAvailable()
{
    const snd_pcm_sframes_t frames =
        snd_pcm_readi(m_pcm.Handle(), m_staging.data(), m_staging.size() / kWaveBytesPerFrame);
    if (frames > 0 && m_started)
        m_queue.Deliver(
            std::span(m_staging).first(static_cast<size_t>(frames) * kWaveBytesPerFrame));
    return frames;
}

// The device is gone: keep the headers for Reset/Close, stop listening.
void AlsaWaveIn::Fail()
{
    m_failed = true;
    m_started = false;
    m_pcm.Close();
}

}  // namespace velnar
