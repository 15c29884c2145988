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
    if (m_stamped && stamp <= m_lastStamp)
        stamp = m_lastStamp + 1;
    m_lastStamp = stamp;
    m_stamped = true;
    return stamp;
}

uint32_t Transport::FirstTimeoutMs() const
{
    if (m_roundTripMs == 0)
        return m_limits.initialTimeoutMs;
    return std::clamp(2 * m_roundTripMs, m_limits.minTimeoutMs, m_limits.maxTimeoutMs);
}

bool Transport::BuildEcho(uint8_t type, uint32_t subclass, uint32_t stamp, ByteView data,
                          uint64_t nowMs, Bytes* out)
{
    const bool reliable = !IsCounterNeutral(type, subclass);
    if (reliable && m_queue.size() >= m_limits.maxQueuedFrames)
        return false;
    FullHeader header{localCall, remoteCall, false, stamp, m_oseqno, m_iseqno, type, subclass};
    out->clear();
    if (AppendFull(header, data, out) != 0)
        return false;
    if (!reliable)
        return true;
    const uint32_t interval = FirstTimeoutMs();
    m_queue.push_back(Sent{*out, m_oseqno, stamp, nowMs + interval, interval, 0});
    MarkRetransmitted(&m_queue.back().bytes);
    ++m_oseqno;
    return true;
}

bool Transport::Build(uint8_t type, uint32_t subclass, ByteView data, uint64_t nowMs, Bytes* out)
{
    return BuildEcho(type, subclass, NextFullStamp(nowMs), data, nowMs, out);
}

void Transport::AckThrough(uint8_t iseqno)
{
    std::erase_if(m_queue, [&](const Sent& sent) { return SeqDiff(iseqno, sent.oseqno) > 0; });
}

void Transport::AckStamp(uint32_t stamp)
{
    std::erase_if(m_queue, [&](const Sent& sent) { return sent.stamp == stamp; });
}

Verdict Transport::Receive(const FullHeader& header)
{
    AckThrough(header.iseqno);
    if (IsCounterNeutral(header.type, header.subclass)) {
        if (header.type == kTypeCommand && header.subclass == kAck)
            AckStamp(header.timestamp);
        return Verdict::Neutral;
    }
    const int diff = SeqDiff(header.oseqno, m_iseqno);
    if (diff < 0)
        return Verdict::Duplicate;
    if (diff > 0)
        return Verdict::Gap;
    ++m_iseqno;
    return Verdict::InOrder;
}

void Transport::ResendFrom(uint8_t iseqno, std::vector<Bytes>* out)
{
    for (const Sent& sent : m_queue)
        if (SeqDiff(sent.oseqno, iseqno) >= 0)
            out->push_back(sent.bytes);
}

bool Transport::Service(uint64_t nowMs, std::vector<Bytes>* out)
{
    for (Sent& sent : m_queue) {
        if (sent.dueMs > nowMs)
            continue;
        if (sent.retries >= m_limits.maxRetries)
            return false;
        ++sent.retries;
        sent.intervalMs = std::min(sent.intervalMs * 2, m_limits.maxTimeoutMs);
        sent.dueMs = nowMs + sent.intervalMs;
        out->push_back(sent.bytes);
    }
    return true;
}

uint64_t Transport::NextDueMs() const
{
    uint64_t due = UINT64_MAX;
    for (const Sent& sent : m_queue)
        due = std::min(due, sent.dueMs);
    return due;
}

void Transport::RestartCounters()
{
    m_queue.clear();
    m_oseqno = 0;
    m_iseqno = 0;
}

}  // namespace iax2
