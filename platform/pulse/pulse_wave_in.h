// Capture from the sound server into the caller's queued headers (see
// pulse_wave_device.h for the behaviour).
#pragma once

#include "platform/pulse/pulse_stream.h"
#include "platform/wave_device.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace velnar {

class PulseWaveIn final : public WaveIn {
public:
    PulseWaveIn();
    ~PulseWaveIn() override;

    int Open(DoneFn onDone) override;
    void SelectDevice(const std::string& id) override { m_device = id; }
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
    // What completions posted to the event loop need; they keep it alive,
    // so a callback that closes or destroys the device is safe.
    struct Mailbox {
        DoneFn onDone;
        bool open = true;
    };

    int Connect();
    static void OnStreamState(pa_stream* stream, void* userdata);
    static void OnReadable(pa_stream* stream, size_t bytes, void* userdata);
    void Pump();
    void Deliver(const uint8_t* bytes, size_t byteCount);
    void HoldUntilNextBuffer();
    static void HandBack(std::shared_ptr<Mailbox> mailbox, const std::vector<WaveHeader*>& ready);
    void CompleteHead();
    int OpenStream();
    void Cork(bool cork);
    void Pause();
    void StopStream();
    void Fail();

    PulseServerLink m_server;
    PulseStreamPtr m_stream;
    std::shared_ptr<Mailbox> m_mailbox;
    std::unique_ptr<QObject> m_context;  // receives the posted completions
    std::deque<WaveHeader*> m_queue;
    bool m_failed = false;
    bool m_started = false;  // between Start and Stop: what arrives goes to the headers
    bool m_corked = true;
    bool m_collecting = false;  // in the read callback: completions wait in m_ready
    std::vector<WaveHeader*> m_ready;
    size_t m_lastChunkBytes = 0;  // the size of the server's last piece
};

}  // namespace velnar
