// Playback of the caller's blocks on an ALSA PCM (see alsa_wave_device.h for
// the behaviour).
#pragma once

#include "platform/alsa/alsa_pcm.h"
#include "platform/wave_device.h"
#include "platform/wave_queue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velnar {

class AlsaWaveOut final : public WaveOut {
public:
    // How Pause holds the sound: with the device's own pause where it has
    // one, or by dropping what the device holds (the fallback for devices
    // without pause; also selectable, so that it can be exercised anywhere).
    enum class PauseMode { DeviceWhereSupported, DropAlways };

    explicit AlsaWaveOut(std::string pcmName,
                         PauseMode pauseMode = PauseMode::DeviceWhereSupported);
    ~AlsaWaveOut() override;

    int Open() override;
    // Empty returns to the PCM the device was made with.
    void SelectDevice(const std::string& id) override;
    std::string OpenFailure() const override { return m_pcm.OpenFailure(); }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    // While the device runs with sound in its buffer.
    bool IsPlayingOut() const override;
    int Reset() override;
    int Close() override;

    bool IsFailed() const { return m_failed; }

private:
    int OpenPcm();
    bool OnReady(unsigned short revents);
    bool Feed();
    void HoldDevice();
    void ReleaseDevice();
    void UpdateWatching();
    void Fail();

    std::string m_pcmName;
    std::string m_madeWithName;
    PauseMode m_pauseMode;
    AlsaPcm m_pcm;
    BlockQueue m_queue;
    bool m_paused = false;
    bool m_failed = false;
    // The device took less than it was offered: it has no room until it
    // wakes us, so a Write meanwhile only queues.
    bool m_deviceFull = false;
    // The queued blocks are handed over together, in one write per wake-up.
    std::vector<uint8_t> m_staging;
};

}  // namespace velnar
