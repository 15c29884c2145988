// Layer: transport (above wire, codes, socket's address record).
#include "iax2/transport.h"

#include <algorithm>

#include "iax2/codes.h"

namespace iax2 {

namespace {

// Distance from b to a across the 8-bit wrap.
int SeqDiff(uint8_t a, uint8_t b)
{
    return int(int8_t(uint8_t(a - b)));
}

}  // namespace

uint32_t Transport::NextFullStamp(uint64_t nowMs)
{
    uint32_t stamp = ClockMs(nowMs);
    if (stamped_ && stamp <= lastStamp_)
        stamp = lastStamp_ + 1;
    lastStamp_ = stamp;
    stamped_ = true;
    return stamp;
}

uint32_t Transport::FirstTimeoutMs() const
{
    if (roundTripMs_ == 0)
        return limits_.initialTimeoutMs;
    return std::clamp(2 * roundTripMs_, limits_.minTimeoutMs, limits_.maxTimeoutMs);
}

bool Transport::BuildEcho(uint8_t type, uint32_t subclass, uint32_t stamp, ByteView data,
                          uint64_t nowMs, Bytes* out)
{
    const bool reliable = !IsCounterNeutral(type, subclass);
    if (reliable && queue_.size() >= limits_.maxQueuedFrames)
        return false;
    FullHeader header{localCall, remoteCall, false, stamp, oseqno_, iseqno_, type, subclass};
    out->clear();
    if (AppendFull(header, data, out) != 0)
        return false;
    if (!reliable)
        return true;
    const uint32_t interval = FirstTimeoutMs();
    queue_.push_back(Sent{*out, oseqno_, stamp, nowMs + interval, interval, 0});
    MarkRetransmitted(&queue_.back().bytes);
    ++oseqno_;
    return true;
}

bool Transport::Build(uint8_t type, uint32_t subclass, ByteView data, uint64_t nowMs, Bytes* out)
{
    return BuildEcho(type, subclass, NextFullStamp(nowMs), data, nowMs, out);
}

void Transport::AckThrough(uint8_t iseqno)
{
    std::erase_if(queue_, [&](const Sent& sent) { return SeqDiff(iseqno, sent.oseqno) > 0; });
}

void Transport::AckStamp(uint32_t stamp)
{
    std::erase_if(queue_, [&](const Sent& sent) { return sent.stamp == stamp; });
}

Verdict Transport::Receive(const FullHeader& header)
{
    AckThrough(header.iseqno);
    if (IsCounterNeutral(header.type, header.subclass)) {
        if (header.type == kTypeCommand && header.subclass == kAck)
            AckStamp(header.timestamp);
        return Verdict::Neutral;
    }
    const int diff = SeqDiff(header.oseqno, iseqno_);
    if (diff < 0)
        return Verdict::Duplicate;
    if (diff > 0)
        return Verdict::Gap;
    ++iseqno_;
    return Verdict::InOrder;
}

void Transport::ResendFrom(uint8_t iseqno, std::vector<Bytes>* out)
{
    for (const Sent& sent : queue_)
        if (SeqDiff(sent.oseqno, iseqno) >= 0)
            out->push_back(sent.bytes);
}

bool Transport::Service(uint64_t nowMs, std::vector<Bytes>* out)
{
    for (Sent& sent : queue_) {
        if (sent.dueMs > nowMs)
            continue;
        if (sent.retries >= limits_.maxRetries)
            return false;
        ++sent.retries;
        sent.intervalMs = std::min(sent.intervalMs * 2, limits_.maxTimeoutMs);
        sent.dueMs = nowMs + sent.intervalMs;
        out->push_back(sent.bytes);
    }
    return true;
}

uint64_t Transport::NextDueMs() const
{
    uint64_t due = UINT64_MAX;
    for (const Sent& sent : queue_)
        due = std::min(due, sent.dueMs);
    return due;
}

void Transport::RestartCounters()
{
    queue_.clear();
    oseqno_ = 0;
    iseqno_ = 0;
}

}  // namespace iax2
