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
    const int64_t due = int64_t(timestamp) + offsetMs_;
    return due < 0 ? 0 : uint64_t(due);
}

bool JitterBuffer::Put(VoiceFrame frame, uint64_t arrivalMs)
{
    if (played_ && !After(frame.timestamp, lastPlayed_))
        return false;
    if (frames_.count(frame.timestamp))
        return false;
    // The first frame anchors the playout; a stamp far ahead of its arrival
    // (the far end's clock jumped) anchors it again rather than holding
    // the voice back for as long as the jump.
    const bool jumped = anchored_ && DueMs(frame.timestamp) > arrivalMs + delayMs_ + kResyncMs;
    if (!anchored_ || jumped) {
        offsetMs_ = int64_t(arrivalMs) + delayMs_ - int64_t(frame.timestamp);
        anchored_ = true;
    }
    if (frames_.size() >= maxFrames_)
        frames_.erase(frames_.begin());
    frames_.emplace(frame.timestamp, std::move(frame));
    return true;
}

bool JitterBuffer::Pop(uint64_t nowMs, VoiceFrame* out)
{
    if (frames_.empty() || DueMs(frames_.begin()->first) > nowMs)
        return false;
    *out = std::move(frames_.begin()->second);
    frames_.erase(frames_.begin());
    lastPlayed_ = out->timestamp;
    played_ = true;
    return true;
}

uint64_t JitterBuffer::NextDueMs() const
{
    return frames_.empty() ? UINT64_MAX : DueMs(frames_.begin()->first);
}

}  // namespace iax2
