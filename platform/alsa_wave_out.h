// Playback of the caller's blocks on an ALSA PCM (see alsa_wave_device.h for
// the behaviour).
#pragma once

#include "platform/alsa_pcm.h"
#include "platform/wave_device.h"

#include <cstdint>
#include <deque>
#include <string>

namespace velnar {

class AlsaWaveOut final : public WaveOut {
public:
    explicit AlsaWaveOut(std::string pcmName);
    ~AlsaWaveOut() override;

    int Open() override;
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int Close() override;

    bool IsFailed() const { return m_failed; }

private:
    struct Block {
        WaveHeader* header;
        uint32_t handedBytes;  // already given to ALSA
    };

    int OpenPcm();
    bool OnReady(unsigned short revents);
    bool Feed();
    snd_pcm_sframes_t WriteHead();
    void HoldDevice();
    void ReleaseDevice();
    void UpdateWatching();
    void MarkAllDone();
    void Fail();

    std::string m_pcmName;
    AlsaPcm m_pcm;
    std::deque<Block> m_queue;
    bool m_open = false;
    bool m_paused = false;
    bool m_failed = false;
};

}  // namespace velnar
