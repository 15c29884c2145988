// One ALSA PCM in the wave devices' fixed format (8000 Hz, S16_LE, mono),
// non-blocking, with its poll descriptors watched from the Qt event loop of
// the thread that opened it. Shared by the capture and playback devices.
#pragma once

#include "platform/wave_format.h"

#include <alsa/asoundlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace velnar {

struct AlsaPcmSetup {
    snd_pcm_stream_t stream = SND_PCM_STREAM_CAPTURE;
    unsigned bufferPeriods = 4;  // device buffer, in 20-ms periods
    // Playback starts once this many frames are written; capture is started
    // explicitly.
    snd_pcm_uframes_t startThresholdFrames = kWavePeriodFrames;
};

// What became of a failed ALSA call after recovery was tried.
enum class PcmRecovery {
    Again,      // -EAGAIN: nothing to do now, wait for the next poll
    Recovered,  // overrun, underrun or suspend handled; carry on
    Failed,     // the device is gone or unusable
};

class AlsaPcm {
public:
    // Called with the demangled poll events (POLLIN, POLLOUT, POLLERR ...);
    // returns whether any sound moved. A wake-up that moves nothing is
    // followed by a short pause in watching, so that a descriptor that stays
    // ready cannot spin the event loop.
    using ReadyFn = std::function<bool(unsigned short revents)>;

    AlsaPcm();
    ~AlsaPcm();
    AlsaPcm(const AlsaPcm&) = delete;
    AlsaPcm& operator=(const AlsaPcm&) = delete;

    // Opens and configures the PCM; returns a WaveError.
    int Open(const std::string& name, const AlsaPcmSetup& setup, ReadyFn onReady);
    void Close();
    bool IsOpen() const { return m_pcm != nullptr; }
    snd_pcm_t* Handle() const { return m_pcm; }
    bool CanPause() const { return m_canPause; }
    // The device buffer as configured (the device may have rounded it).
    snd_pcm_uframes_t BufferFrames() const { return m_bufferFrames; }
    // Why the last Open failed, naming the device; empty after a success.
    const std::string& OpenFailure() const { return m_openFailure; }

    // Turns the poll notifications on or off. Off whenever there is nothing
    // to move, so that an always-ready descriptor cannot spin the loop.
    void SetWatching(bool on);
    bool IsWatching() const { return m_watching; }

    // Overrun/underrun: prepare again (and restart capture); suspend:
    // resume, else prepare. Anything else is a failure.
    PcmRecovery Recover(int error);
    // The device reported POLLERR: recover if its state allows it.
    PcmRecovery RecoverFromPollError();

private:
    int Configure(const AlsaPcmSetup& setup);
    int ConfigureHardware(const AlsaPcmSetup& setup);
    int ConfigureSoftware(const AlsaPcmSetup& setup);
    void WatchDescriptors();
    void OnActivated();
    void EnableNotifiers(bool on);
    void BackOff();
    void WatchForStalls(bool on);
    void CheckForStall();
    bool Report(unsigned short revents);
    int RestartAfterPrepare();

    snd_pcm_t* m_pcm = nullptr;
    bool m_capture = true;
    bool m_canPause = false;
    snd_pcm_uframes_t m_bufferFrames = 0;
    bool m_watching = false;
    ReadyFn m_onReady;
    std::vector<pollfd> m_pollFds;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
    std::unique_ptr<QTimer> m_backOff;
    std::unique_ptr<QTimer> m_stallCheck;
    bool m_progressed = false;  // woken with something to do since the last check
    std::string m_openFailure;
};

}  // namespace velnar
