// Layer: jitter (above wire).
#include "iax2/jitter.h"

namespace iax2 {

namespace {

constexpr uint64_t kResyncMs = 1000;

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
    // The first frame anchors the playout; a stamp far ahead of its arrival
    // (the far end's clock jumped) anchors it again rather than holding
    // the voice back for as long as the jump.
    const bool jumped = m_anchored && DueMs(frame.timestamp) > arrivalMs + m_delayMs + kResyncMs;
    if (!m_anchored || jumped) {
        m_offsetMs = int64_t(arrivalMs) + m_delayMs - int64_t(frame.timestamp);
        m_anchored = true;
    }
    if (m_frames.size() >= m_maxFrames)
        m_frames.erase(m_frames.begin());
    m_frames.emplace(frame.timestamp, std::move(frame));
    return true;
}

bool JitterBuffer::Pop(uint64_t nowMs, VoiceFrame* out)
{
    if (m_frames.empty() || DueMs(m_frames.begin()->first) > nowMs)
        return false;
    *out = std::move(m_frames.begin()->second);
    m_frames.erase(m_frames.begin());
    m_lastPlayed = out->timestamp;
    m_played = true;
    return true;
}

uint64_t JitterBuffer::NextDueMs() const
{
    return m_frames.empty() ? UINT64_MAX : DueMs(m_frames.begin()->first);
}

}  // namespace iax2
