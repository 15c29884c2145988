// In-memory wave devices for tests that cannot have a sound card.
//
// They keep the same bookkeeping as the ALSA devices (header flags, error
// codes, queue order) but move no sound: a test decides when a capture buffer
// is filled and when a playback block has played.
//
// Capture completion, deterministic by design: a buffer that the device
// finishes (Complete, Stop, Reset) is put in an outbox; the DoneFn is called
// for the outbox entries, oldest first, only by DispatchPosted() (or by
// Deliver(), which is Complete + DispatchPosted). No interface call ever runs
// the DoneFn, just as the real device never does. With
// SetDispatchThroughEventLoop(true) the outbox is instead emptied from the Qt
// event loop of the opening thread, like the real device; tests then need
// a running QCoreApplication.
//
// Typical engine test:
//   FakeWaveIn in;  ...engine opens it and queues its 8 buffers...
//   in.Deliver(pcm320);          // engine's OnCaptureDone runs here
//   FakeWaveOut out; ... engine writes blocks ...
//   out.PlayN(2);                // first two unpaused blocks get WaveDone
#pragma once

#include "platform/wave_device.h"
#include "platform/wave_queue.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velnar {

// One interface call, as recorded in FakeWaveIn::Calls / FakeWaveOut::Calls.
enum class FakeCall {
    Open,
    Prepare,
    Unprepare,
    AddBuffer,
    Start,
    Stop,
    Reset,
    Close,
    Write,
    Pause,
    Restart,
};

// The result each operation returns; set one to a WaveError to make that
// operation fail (it then changes nothing). Left at WaveOk, operations
// behave like the real device, including its own argument checks.
struct FakeResults {
    int open = WaveOk;
    int prepare = WaveOk;
    int unprepare = WaveOk;
    int addBuffer = WaveOk;  // also used by FakeWaveOut::Write
    int start = WaveOk;
    int stop = WaveOk;
    int reset = WaveOk;
    int close = WaveOk;
    int pause = WaveOk;
    int restart = WaveOk;
};

class FakeWaveIn final : public WaveIn {
public:
    FakeWaveIn();
    ~FakeWaveIn() override;

    int Open(DoneFn onDone) override;
    void SelectDevice(const std::string& id) override { selectedDevice = id; }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int AddBuffer(WaveHeader* header) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    int Close() override;

    // --- test controls ---
    FakeResults results;
    std::string selectedDevice;  // the last SelectDevice

    // Writes pcm into the oldest queued buffer without finishing it (as if
    // the device were part-way through it); false when nothing is queued or
    // the device is not started.
    bool Fill(std::span<const uint8_t> pcm);
    // Fills the oldest queued buffer with pcm (at most its length; fewer
    // bytes make a short buffer), marks it done and puts it in the outbox.
    // False when nothing is queued or the device is not started.
    bool Complete(std::span<const uint8_t> pcm);
    // Calls the DoneFn for every buffer in the outbox, oldest first,
    // including buffers completed by the callbacks themselves. Returns how
    // many were handed back.
    size_t DispatchPosted();
    // Complete(pcm) followed by DispatchPosted(); false when nothing was
    // queued.
    bool Deliver(std::span<const uint8_t> pcm);
    void SetDispatchThroughEventLoop(bool on);

    bool IsOpen() const { return m_queue.IsOpen(); }
    bool IsStarted() const { return m_started; }
    size_t QueuedCount() const { return m_queue.Count(); }
    size_t PostedCount() const { return m_queue.WaitingCount(); }
    const std::vector<FakeCall>& Calls() const { return m_calls; }

private:
    bool m_started = false;
    CaptureQueue m_queue{CaptureQueue::Dispatch::Manual};
    std::vector<FakeCall> m_calls;
};

class FakeWaveOut final : public WaveOut {
public:
    FakeWaveOut();
    ~FakeWaveOut() override;

    int Open() override;
    void SelectDevice(const std::string& id) override { selectedDevice = id; }
    int Prepare(WaveHeader* header) override;
    int Unprepare(WaveHeader* header) override;
    int Write(WaveHeader* header) override;
    int Pause() override;
    int Restart() override;
    bool IsPlayingOut() const override { return playingOut; }
    int Reset() override;
    int Close() override;

    // --- test controls ---
    FakeResults results;
    std::string selectedDevice;  // the last SelectDevice
    bool playingOut = false;     // what IsPlayingOut says

    // Marks the oldest n pending blocks done, as if they had played; nothing
    // plays while the device is paused or closed. Returns how many were
    // marked.
    size_t PlayN(size_t n);
    size_t PlayAll();

    bool IsOpen() const { return m_queue.IsOpen(); }
    bool IsPaused() const { return m_paused; }
    size_t PendingCount() const { return m_queue.Count(); }
    // The bytes of every block accepted by Write, in order, as they were at
    // the moment of the call.
    const std::vector<std::vector<uint8_t>>& Written() const { return m_written; }
    // Drops that record, for long runs whose memory is measured.
    void ForgetWritten() { m_written.clear(); }
    const std::vector<FakeCall>& Calls() const { return m_calls; }

private:
    bool m_paused = false;
    BlockQueue m_queue;
    std::vector<std::vector<uint8_t>> m_written;
    std::vector<FakeCall> m_calls;
};

}  // namespace velnar
