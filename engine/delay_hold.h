// Holds the playback delay near its target during continuous speech.
//
// The far end's clock and our sound device's never agree exactly (sound
// cards differ by up to a few hundred parts per million), and a queue that
// is topped up before it ever runs dry keeps every block it gains: the delay
// creeps toward the queue's cap and stays there. A machine that stalls for a
// moment adds to it all at once. The hold watches the queue's depth as each
// block arrives; when even the shallowest depth over a whole watch period
// stayed above the target, the excess is lasting, and it is given back a
// block at a time, each time the first block that is the quietest of the
// last second and well below its loudest (a pause between words), so that
// nothing is cut out of loud speech. A sound without pauses (a hum, music)
// has no better block to wait for: after a while its quietest will do. Then
// the watch starts again. A steady drift thus costs one block per period at
// most, while what a stall piled up goes within seconds.
//
// Running short is the pre-fill's business. Its four blocks start from a
// device that has played out, so they are no excess: the watch starts
// afresh, and a cushion kept deeper after a run-dry would only add to the
// delay for as long as it was kept.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace velnar {

class DelayHold {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Long enough that the sound server's uneven takes and the network's
    // jitter never look like a lasting excess.
    static constexpr std::chrono::milliseconds kWatchPeriod{5000};
    // The recent blocks among which the one left out is the quietest: a
    // second, which holds the pauses between a speaker's words.
    static constexpr size_t kLevelWindowBlocks = 50;
    // A pause is at most a quarter as loud as the loudest of its second.
    static constexpr uint32_t kPauseDivisor = 4;
    // How long a lasting excess waits for a pause before it takes the
    // quietest block there is.
    static constexpr std::chrono::milliseconds kPauseWait{15000};

    DelayHold(Clock clock, int targetBlocks);

    // A block arrives while the queue plays, with `pendingBlocks` unplayed
    // ahead of it: true when it is to be left out.
    bool TakeBack(int pendingBlocks, uint32_t level);
    // The queue ran dry while it played: what was watched no longer holds.
    void RanDry();
    // The queue starts afresh (a new call): what was watched no longer holds.
    void Forget();
    uint64_t GivenBack() const { return m_givenBack; }

private:
    void Watch(int pendingBlocks, std::chrono::steady_clock::time_point now);
    bool MayLeaveOut(uint32_t level, std::chrono::steady_clock::time_point now) const;

    Clock m_clock;
    int m_targetBlocks;
    std::optional<std::chrono::steady_clock::time_point> m_watchStart;
    int m_shallowestBlocks = 0;
    int m_excessBlocks = 0;  // lasting excess still to give back
    std::chrono::steady_clock::time_point m_excessSince{};
    std::deque<uint32_t> m_recentLevels;
    uint64_t m_givenBack = 0;
};

}  // namespace velnar
