// Playback of the caller's blocks on the sound server (see
// pulse_wave_device.h for the behaviour).
#pragma once

#include "platform/pulse/pulse_stream.h"
#include "platform/wave_device.h"
#include "platform/wave_queue.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velnar {

class PulseWaveOut final : public WaveOut {
public:
    PulseWaveOut();
    ~PulseWaveOut() override;

    int Open() override;
    void SelectDevice(const std::string& id) override { m_device = id; }
    std::string OpenFailure() const override { return m_openFailure; }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    // Until the server says it ran out of what it took.
    bool IsPlayingOut() const override { return m_serverHolds; }
    int Reset() override;
    int Close() override;

    bool IsFailed() const { return m_failed; }
    // Whether the server lets the stream run (for tests: idle means corked).
    bool IsRunning() const { return m_stream && !m_corked; }

private:
    // The chosen device; empty: the environment's or the server's default.
    std::string m_device;
    int Connect();
    int MakeStream();
    static void OnStreamState(pa_stream* stream, void* userdata);
    static void OnWritable(pa_stream* stream, size_t bytes, void* userdata);
    static void OnUnderflow(pa_stream* stream, void* userdata);
    void Feed();
    void Cork(bool cork);
    void Fail();

    PulseServerLink m_server;
    std::string m_openFailure;
    PulseStreamPtr m_stream;
    BlockQueue m_queue;
    bool m_paused = false;
    bool m_failed = false;
    bool m_corked = true;        // as last asked of the server
    bool m_serverHolds = false;  // the server has sound of ours not yet played
    // Bytes written since the stream was made, which is where the server's
    // write index stands; -1 once a flush has moved it where we cannot see.
    int64_t m_writeIndex = 0;
    std::vector<uint8_t> m_staging;
};

}  // namespace velnar
