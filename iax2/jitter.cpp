// Layer: jitter (above wire).
#include "iax2/jitter.h"

namespace iax2 {

namespace {

// A stamp this much beyond the last frame's end still follows it: senders
// stamp with their clock, a few ms either way of the frame's length.
constexpr uint32_t kFollowSlackMs = 10;

bool After(uint32_t a, uint32_t b)
{
    return int32_t(a - b) > 0;
}

}  // namespace

uint64_t JitterBuffer::DueMs(uint32_t timestamp) const
{
    const int64_t due = int64_t(timestamp) + m_offsetMs;
    return due < 0 ? 0 : uint64_t(due);
}

bool JitterBuffer::Put(VoiceFrame frame, uint64_t arrivalMs)
{
    if (m_played && !After(frame.timestamp, m_lastPlayed))
        return false;
    if (m_frames.count(frame.timestamp))
        return false;
    // Every frame that follows the last one anchors the playout anew, so
    // that a frame after a gap waits the delay past its expected arrival
    // whichever way the two clocks drift; so does a stamp due later than the
    // delay allows (the far end's clock jumped).
    const bool ahead = m_anchored && DueMs(frame.timestamp) > arrivalMs + m_delayMs;
    if (!m_anchored || ahead || FollowsLastPlayed(frame.timestamp)) {
        m_offsetMs = int64_t(arrivalMs) + m_delayMs - int64_t(frame.timestamp);
        m_anchored = true;
    }
    if (m_frames.size() >= m_maxFrames)
        m_frames.erase(m_frames.begin());
    m_frames.emplace(frame.timestamp, std::move(frame));
    return true;
}

bool JitterBuffer::FollowsLastPlayed(uint32_t timestamp) const
{
    if (m_delayMs == 0 || !m_played)
        return true;
    return !After(timestamp, m_lastPlayed + m_lastSpanMs + kFollowSlackMs);
}

bool JitterBuffer::Pop(uint64_t nowMs, VoiceFrame* out)
{
    if (m_frames.empty())
        return false;
    const uint32_t head = m_frames.begin()->first;
    if (!FollowsLastPlayed(head) && DueMs(head) > nowMs)
        return false;
    *out = std::move(m_frames.begin()->second);
    m_frames.erase(m_frames.begin());
    m_lastPlayed = out->timestamp;
    m_lastSpanMs = out->spanMs;
    m_played = true;
    return true;
}

uint64_t JitterBuffer::NextDueMs() const
{
    if (m_frames.empty())
        return UINT64_MAX;
    const uint32_t head = m_frames.begin()->first;
    return FollowsLastPlayed(head) ? 0 : DueMs(head);
}

}  // namespace iax2
