// The playback queue: decoded 20-ms blocks written to the wave-out device,
// held until the device has played them. The device is paused at the first
// block of an empty queue and restarted at the fourth, so that a short gap
// in the voice does not make every following block play late. It holds at
// most 13 unplayed blocks; dropping what does not fit, and refusing blocks
// while the devices are shut, are the engine's. The queue borrows the device.
#pragma once

#include "engine/playback_buffer.h"
#include "platform/wave_device.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velnar {

constexpr int kMaxUnplayedBlocks = 13;

class PlaybackQueue {
public:
    explicit PlaybackQueue(WaveOut* device);  // not owned; may be null
    ~PlaybackQueue();
    PlaybackQueue(const PlaybackQueue&) = delete;
    PlaybackQueue& operator=(const PlaybackQueue&) = delete;

    // Writes one block of kPcmFrameBytes; `pendingBlocks` is Pending() as the
    // caller read it. False when the device refused the block (it is then
    // dropped). Out of memory ends the program.
    bool Queue(const uint8_t* pcm, int pendingBlocks);
    // Blocks written and not yet played.
    int Pending() const;
    // Whether another block may be queued (fewer than 13 unplayed).
    bool HasRoom() const { return Pending() < kMaxUnplayedBlocks; }
    // Unprepares and frees the blocks the device has played.
    void Reclaim();
    // Frees every block without handing it back to the device: only once the
    // device has been reset and closed.
    void Release();
    // The start of a call: the device lets go of everything it still holds,
    // which is freed, and plays again, not paused.
    void Restart();
    // Forgets the pause, for a device that has just been opened again.
    void ForgetPause() { m_paused = false; }
    // Opens a device that failed mid-call again (Reset, then Restart), at
    // most once a second.
    void RetryFailed();

    // Whether the queue has paused the device to let itself fill.
    bool IsPaused() const { return m_paused; }
    // Blocks held, played or not.
    size_t Size() const;

private:
    WaveOut* m_device;
    PlaybackBuffer* m_pHead = nullptr;
    // Set while the queue has paused the device to let itself fill. Every call
    // starts with it clear and the device restarted, so that the two agree
    // even after the device was opened again.
    bool m_paused = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastRetry;
};

}  // namespace velnar
