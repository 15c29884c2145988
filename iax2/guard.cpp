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
    if (buckets_.size() >= kMaxTrackedAddresses && !buckets_.count(Key(to)))
        buckets_.clear();
    Bucket& bucket = buckets_.try_emplace(Key(to), Bucket{nowMs, 0}).first->second;
    if (nowMs - bucket.windowStartMs >= 1000)
        bucket = Bucket{nowMs, 0};
    if (bucket.spent >= perSecond_)
        return false;
    ++bucket.spent;
    return true;
}

void EndedCalls::Remember(uint16_t localCall, Peer peer, uint16_t remoteCall, uint64_t nowMs)
{
    calls_[localCall] = EndedCall{peer, remoteCall, nowMs + keepMs_};
}

const EndedCall* EndedCalls::Find(uint16_t localCall, uint64_t nowMs)
{
    std::erase_if(calls_, [&](const auto& entry) { return entry.second.untilMs <= nowMs; });
    const auto found = calls_.find(localCall);
    return found == calls_.end() ? nullptr : &found->second;
}

}  // namespace iax2
