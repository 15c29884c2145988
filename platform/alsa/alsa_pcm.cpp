#include "platform/alsa/alsa_pcm.h"

#include "platform/alsa/alsa_errors.h"
#include "platform/wave_device.h"

#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace velnar {

namespace {
// A quarter of a period: adds at most this much to a delivery's delay.
constexpr int kBackOffMs = 5;
// Long enough not to cost anything, short enough that a dead device is
// noticed before the caller's buffers are missed.
constexpr int kStallCheckMs = 500;
}  // namespace

AlsaPcm::AlsaPcm() = default;

AlsaPcm::~AlsaPcm()
{
    Close();
}

int AlsaPcm::Open(const std::string& name, const AlsaPcmSetup& setup, ReadyFn onReady)
{
    Close();
    CatchAlsaErrors();
    const std::string device = "ALSA device \"" + name + "\" " +
                               (setup.stream == SND_PCM_STREAM_CAPTURE ? "capture" : "playback");
    if (const int rc = snd_pcm_open(&m_pcm, name.c_str(), setup.stream, SND_PCM_NONBLOCK); rc < 0) {
        m_pcm = nullptr;
        ReportAlsaOpenFailure(name, rc);
        m_openFailure = device + ": " + snd_strerror(rc);
        return WaveErrNoDevice;
    }
    m_capture = setup.stream == SND_PCM_STREAM_CAPTURE;
    if (const int rc = Configure(setup); rc != WaveOk) {
        Close();
        m_openFailure =
            device + (rc == WaveErrNoDevice ? ": it cannot take 8000 Hz 16-bit mono sound"
                                            : ": it failed while being set up");
        return rc;
    }
    m_openFailure.clear();
    m_onReady = std::move(onReady);
    WatchDescriptors();
    return WaveOk;
}

void AlsaPcm::Close()
{
    m_backOff.reset();
    m_stallCheck.reset();
    m_notifiers.clear();
    m_pollFds.clear();
    m_watching = false;
    m_onReady = nullptr;
    if (m_pcm) {
        snd_pcm_drop(m_pcm);
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
}

int AlsaPcm::Configure(const AlsaPcmSetup& setup)
{
    if (const int rc = ConfigureHardware(setup); rc != WaveOk)
        return rc;
    if (const int rc = ConfigureSoftware(setup); rc != WaveOk)
        return rc;
    return snd_pcm_prepare(m_pcm) < 0 ? WaveErrDevice : WaveOk;
}

int AlsaPcm::ConfigureHardware(const AlsaPcmSetup& setup)
{
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rateHz = kWaveRateHz;
    snd_pcm_uframes_t periodFrames = kWavePeriodFrames;
    snd_pcm_uframes_t bufferFrames = kWavePeriodFrames * setup.bufferPeriods;
    int dir = 0;
    // The format itself is not negotiable: a device that cannot take it
    // is no device for us.
    if (snd_pcm_hw_params_any(m_pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(m_pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate_near(m_pcm, hw, &rateHz, &dir) < 0 || rateHz != kWaveRateHz)
        return WaveErrNoDevice;
    // Period and buffer sizes are wishes; the device may round them.
    dir = 0;
    snd_pcm_hw_params_set_period_size_near(m_pcm, hw, &periodFrames, &dir);
    snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw, &bufferFrames);
    if (snd_pcm_hw_params(m_pcm, hw) < 0)
        return WaveErrNoDevice;
    m_canPause = snd_pcm_hw_params_can_pause(hw) != 0;
    return WaveOk;
}

int AlsaPcm::ConfigureSoftware(const AlsaPcmSetup& setup)
{
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    if (snd_pcm_get_params(m_pcm, &bufferFrames, &periodFrames) < 0 || bufferFrames == 0)
        return WaveErrDevice;
    m_bufferFrames = bufferFrames;
    // Capture is started by Start(), never by a read.
    const snd_pcm_uframes_t startFrames =
        m_capture ? bufferFrames * 2 : std::min(setup.startThresholdFrames, bufferFrames);
    if (snd_pcm_sw_params_current(m_pcm, sw) < 0 ||
        snd_pcm_sw_params_set_avail_min(m_pcm, sw, periodFrames) < 0 ||
        snd_pcm_sw_params_set_start_threshold(m_pcm, sw, startFrames) < 0 ||
        snd_pcm_sw_params(m_pcm, sw) < 0)
        return WaveErrDevice;
    return WaveOk;
}

void AlsaPcm::WatchDescriptors()
{
    const int count = snd_pcm_poll_descriptors_count(m_pcm);
    if (count <= 0)
        return;
    m_pollFds.resize(static_cast<size_t>(count));
    const int filled =
        snd_pcm_poll_descriptors(m_pcm, m_pollFds.data(), static_cast<unsigned>(count));
    m_pollFds.resize(static_cast<size_t>(std::max(filled, 0)));
    for (const pollfd& fd : m_pollFds) {
        for (auto [events, type] : {std::pair{POLLIN, QSocketNotifier::Read},
                                    std::pair{POLLOUT, QSocketNotifier::Write}}) {
            if (!(fd.events & events))
                continue;
            auto notifier = std::make_unique<QSocketNotifier>(fd.fd, type);
            notifier->setEnabled(false);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                             [this] { OnActivated(); });
            m_notifiers.push_back(std::move(notifier));
        }
    }
}

void AlsaPcm::SetWatching(bool on)
{
    if (on == m_watching)
        return;
    m_watching = on;
    if (m_backOff)
        m_backOff->stop();
    EnableNotifiers(on);
    WatchForStalls(on);
}

// A device can die without a word: the PulseAudio plugin, for one, just
// stops signalling when its server goes away. While we wait for it, look now
// and then whether it still answers.
void AlsaPcm::WatchForStalls(bool on)
{
    if (!on) {
        if (m_stallCheck)
            m_stallCheck->stop();
        return;
    }
    if (!m_stallCheck) {
        m_stallCheck = std::make_unique<QTimer>();
        m_stallCheck->setInterval(kStallCheckMs);
        QObject::connect(m_stallCheck.get(), &QTimer::timeout, m_stallCheck.get(),
                         [this] { CheckForStall(); });
    }
    m_progressed = false;
    m_stallCheck->start();
}

void AlsaPcm::CheckForStall()
{
    if (std::exchange(m_progressed, false) || !m_pcm)
        return;
    if (snd_pcm_avail_update(m_pcm) < 0)
        Report(POLLERR);
}

// The device's reaction may close this PCM, dropping m_onReady: call a copy.
bool AlsaPcm::Report(unsigned short revents)
{
    const ReadyFn onReady = m_onReady;
    return onReady && onReady(revents);
}

void AlsaPcm::EnableNotifiers(bool on)
{
    for (auto& notifier : m_notifiers)
        notifier->setEnabled(on);
}

// Some plugins (the PulseAudio one among them) leave their descriptor
// readable after the data behind it has been taken: woken with nothing to
// do, stop listening for a moment instead of spinning.
void AlsaPcm::BackOff()
{
    if (!m_backOff) {
        m_backOff = std::make_unique<QTimer>();
        m_backOff->setSingleShot(true);
        m_backOff->setInterval(kBackOffMs);
        QObject::connect(m_backOff.get(), &QTimer::timeout, m_backOff.get(), [this] {
            if (m_watching)
                EnableNotifiers(true);
        });
    }
    EnableNotifiers(false);
    m_backOff->start();
}

void AlsaPcm::OnActivated()
{
    if (!m_pcm || !m_watching)
        return;
    // The notifier tells which descriptor woke us, not why: ask all of them
    // now, then let ALSA translate (plugins signal through private pipes).
    for (pollfd& fd : m_pollFds)
        fd.revents = 0;
    unsigned short revents = 0;
    if (::poll(m_pollFds.data(), m_pollFds.size(), 0) < 0) {
        BackOff();
        return;
    }
    // A device that cannot say what happened counts as faulty; the device's
    // recovery decides whether it is.
    if (snd_pcm_poll_descriptors_revents(m_pcm, m_pollFds.data(),
                                         static_cast<unsigned>(m_pollFds.size()), &revents) < 0)
        revents = POLLERR;
    if (revents == 0) {
        BackOff();
        return;
    }
    m_progressed = true;
    if (!Report(revents) && m_pcm && m_watching)
        BackOff();
}

PcmRecovery AlsaPcm::Recover(int error)
{
    switch (error) {
    case -EAGAIN: return PcmRecovery::Again;
    case -EINTR: return PcmRecovery::Recovered;
    case -EPIPE: return RestartAfterPrepare() < 0 ? PcmRecovery::Failed : PcmRecovery::Recovered;
    case -ESTRPIPE:
        // No waiting for a slow resume: preparing afresh loses only the
        // sound of the suspended time.
        if (snd_pcm_resume(m_pcm) == 0)
            return PcmRecovery::Recovered;
        return RestartAfterPrepare() < 0 ? PcmRecovery::Failed : PcmRecovery::Recovered;
    default: return PcmRecovery::Failed;
    }
}

PcmRecovery AlsaPcm::RecoverFromPollError()
{
    switch (snd_pcm_state(m_pcm)) {
    case SND_PCM_STATE_XRUN: return Recover(-EPIPE);
    case SND_PCM_STATE_SUSPENDED: return Recover(-ESTRPIPE);
    default: return PcmRecovery::Failed;
    }
}

int AlsaPcm::RestartAfterPrepare()
{
    if (const int rc = snd_pcm_prepare(m_pcm); rc < 0)
        return rc;
    // Playback restarts by itself with the next write; capture must be
    // started again.
    return m_capture ? snd_pcm_start(m_pcm) : 0;
}

}  // namespace velnar
