// The playback queue: decoded 20-ms blocks written to the wave-out device,
// held until the device has played them. The device is paused at the first
// block of an empty queue (nothing unplayed, nor anything the device still
// plays out) and restarted at the fourth, so that a short gap
// in the voice does not make every following block play late. It holds at
// most 13 unplayed blocks; dropping what does not fit, and refusing blocks
// while the devices are shut, are the engine's. Between those bounds it holds
// the delay of continuous speech near its target (delay_hold.h): blocks are
// fed with their level, whichever codec and protocol decoded them, so that
// it can leave out a quiet one. The queue borrows the device.
#pragma once

#include "engine/delay_hold.h"
#include "engine/playback_buffer.h"
#include "engine/playout_block.h"
#include "platform/wave_device.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velnar {

constexpr int kMaxUnplayedBlocks = 13;

class PlaybackQueue {
public:
    // The device is not owned and may be null; the clock times the hold.
    explicit PlaybackQueue(WaveOut* device,
                           DelayHold::Clock clock = &std::chrono::steady_clock::now);
    ~PlaybackQueue();
    PlaybackQueue(const PlaybackQueue&) = delete;
    PlaybackQueue& operator=(const PlaybackQueue&) = delete;

    // Writes one block, or leaves it out to hold the delay; `pendingBlocks`
    // is Pending() as the caller read it. False when the device refused the
    // block (it is then dropped). Out of memory ends the program.
    bool Queue(const PlayoutBlock& block, int pendingBlocks);
    // The same for kPlayoutBlockBytes of PCM whose level is yet to be
    // measured.
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
    // Blocks given back to hold the delay, since the queue was made.
    uint64_t GivenBackBlocks() const { return m_hold.GivenBack(); }

private:
    WaveOut* m_device;
    PlaybackBuffer* m_pHead = nullptr;
    // Set while the queue has paused the device to let itself fill. Every call
    // starts with it clear and the device restarted, so that the two agree
    // even after the device was opened again.
    bool m_paused = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastRetry;
    DelayHold m_hold;
};

}  // namespace velnar
