// Receive-side playout of one call's voice. A frame that follows the last
// one handed out goes at once: nothing is missing before it, and holding it
// would only add delay. A frame after a gap waits for the missing one until
// its time stamp, offset to the stream's arrival plus a fixed delay, comes
// due. Frames are handed out in time-stamp order; one that arrives after a
// later one was handed out is dropped. Layer: above wire.h only.
#pragma once

#include <cstdint>
#include <map>

#include "iax2/wire.h"

namespace iax2 {

struct VoiceFrame {
    uint32_t timestamp = 0;  // ms on the sender's call clock
    uint32_t format = 0;
    Bytes payload;         // one or more codec frames
    uint32_t spanMs = 20;  // of speech the payload holds
};

class JitterBuffer {
public:
    // delayMs 0 hands every in-order frame out at once, gaps or not.
    explicit JitterBuffer(uint32_t delayMs, size_t maxFrames = 50)
        : m_delayMs(delayMs), m_maxFrames(maxFrames)
    {}

    // False when the frame came too late (its turn has passed) or repeats
    // a held one. A full buffer drops its oldest frame to make room.
    bool Put(VoiceFrame frame, uint64_t arrivalMs);
    // The next frame whose playout time has come.
    bool Pop(uint64_t nowMs, VoiceFrame* out);
    // When the oldest held frame comes due, UINT64_MAX when none is held.
    uint64_t NextDueMs() const;
    size_t size() const { return m_frames.size(); }

private:
    uint64_t DueMs(uint32_t timestamp) const;
    bool FollowsLastPlayed(uint32_t timestamp) const;

    uint32_t m_delayMs;
    size_t m_maxFrames;
    bool m_anchored = false;
    int64_t m_offsetMs = 0;  // playout time minus time stamp
    bool m_played = false;
    uint32_t m_lastPlayed = 0;
    uint32_t m_lastSpanMs = 20;
    std::map<uint32_t, VoiceFrame> m_frames;
};

}  // namespace iax2
