// Capture from the sound server into the caller's queued headers (see
// pulse_wave_device.h for the behaviour).
#pragma once

#include "platform/pulse/pulse_stream.h"
#include "platform/wave_device.h"
#include "platform/wave_queue.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velnar {

class PulseWaveIn final : public WaveIn {
public:
    PulseWaveIn();
    ~PulseWaveIn() override;

    int Open(DoneFn onDone) override;
    void SelectDevice(const std::string& id) override { m_device = id; }
    std::string OpenFailure() const override { return m_openFailure; }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int AddBuffer(WaveHeader* header) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    int Close() override;

    bool IsFailed() const { return m_failed; }

private:
    // The chosen device; empty: the environment's or the server's default.
    std::string m_device;
    int Connect();
    static void OnStreamState(pa_stream* stream, void* userdata);
    static void OnReadable(pa_stream* stream, size_t bytes, void* userdata);
    void Pump();
    void HoldUntilNextBuffer();
    int OpenStream();
    void Cork(bool cork);
    void Pause();
    void StopStream();
    void Fail();

    PulseServerLink m_server;
    std::string m_openFailure;
    PulseStreamPtr m_stream;
    CaptureQueue m_queue;
    bool m_failed = false;
    bool m_started = false;  // between Start and Stop: what arrives goes to the headers
    bool m_corked = true;
    size_t m_lastChunkBytes = 0;  // the size of the server's last piece
};

}  // namespace velnar
