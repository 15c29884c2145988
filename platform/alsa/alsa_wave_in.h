// Capture from an ALSA PCM into the caller's queued headers (see
// alsa_wave_device.h for the behaviour).
#pragma once

#include "platform/alsa/alsa_pcm.h"
#include "platform/wave_device.h"
#include "platform/wave_queue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velnar {

class AlsaWaveIn final : public WaveIn {
public:
    explicit AlsaWaveIn(std::string pcmName);
    ~AlsaWaveIn() override;

    int Open(DoneFn onDone) override;
    // Empty returns to the PCM the device was made with.
    void SelectDevice(const std::string& id) override;
    std::string OpenFailure() const override { return m_pcm.OpenFailure(); }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int AddBuffer(WaveHeader* header) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    int Close() override;

    bool IsFailed() const { return m_failed; }
    // Whether the device's descriptors wake the event loop (only while started).
    bool IsWatching() const { return m_pcm.IsWatching(); }

private:
    int OpenPcm();
    bool OnReady(unsigned short revents);
    bool Pump();
    snd_pcm_sframes_t ReadAvailable();
    bool EnsureRunning();
    void Halt();
    void Fail();

    std::string m_pcmName;
    std::string m_madeWithName;
    AlsaPcm m_pcm;
    CaptureQueue m_queue;
    bool m_started = false;  // between Start and Stop: the PCM runs and is watched
    bool m_failed = false;
    // Everything the device holds is taken in one read and then shared out
    // to the queued headers; what no header has room for is dropped.
    std::vector<uint8_t> m_staging;
};

}  // namespace velnar
