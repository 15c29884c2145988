// Layer: guard (above socket).
#include "iax2/guard.h"

namespace iax2 {

namespace {

constexpr size_t kMaxTrackedAddresses = 4096;

uint64_t Key(Peer peer)
{
    return uint64_t(peer.address) << 16 | peer.port;
}

}  // namespace

bool ReplyBudget::Spend(Peer to, uint64_t nowMs)
{
    // A flood from forged addresses must not grow the table without bound:
    // starting over only lets each address spend one more second's budget.
    if (m_buckets.size() >= kMaxTrackedAddresses && !m_buckets.count(Key(to)))
        m_buckets.clear();
    Bucket& bucket = m_buckets.try_emplace(Key(to), Bucket{nowMs, 0}).first->second;
    if (nowMs - bucket.windowStartMs >= 1000)
        bucket = Bucket{nowMs, 0};
    if (bucket.spent >= m_perSecond)
        return false;
    ++bucket.spent;
    return true;
}

void EndedCalls::Remember(uint16_t localCall, Peer peer, uint16_t remoteCall, uint64_t nowMs)
{
    m_calls[localCall] = EndedCall{peer, remoteCall, nowMs + m_keepMs};
}

const EndedCall* EndedCalls::Find(uint16_t localCall, uint64_t nowMs)
{
    std::erase_if(m_calls, [&](const auto& entry) { return entry.second.untilMs <= nowMs; });
    const auto found = m_calls.find(localCall);
    return found == m_calls.end() ? nullptr : &found->second;
}

}  // namespace iax2
