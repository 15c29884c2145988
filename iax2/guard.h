// What protects the endpoint from strangers: a per-address budget for the
// replies it sends to addresses no call has verified, and the memory of
// recently ended calls (answered with INVAL for a while, and not reused).
// Layer: above socket.h only.
#pragma once

#include <cstdint>
#include <map>

#include "iax2/socket.h"

namespace iax2 {

class ReplyBudget {
public:
    explicit ReplyBudget(int perSecond) : m_perSecond(perSecond) {}
    // True when one more reply to that address fits its budget now.
    bool Spend(Peer to, uint64_t nowMs);

private:
    struct Bucket {
        uint64_t windowStartMs;
        int spent;
    };
    int m_perSecond;
    std::map<uint64_t, Bucket> m_buckets;
};

struct EndedCall {
    Peer peer;
    uint16_t remoteCall = 0;
    uint64_t untilMs = 0;
};

class EndedCalls {
public:
    explicit EndedCalls(uint32_t keepMs) : m_keepMs(keepMs) {}
    void Remember(uint16_t localCall, Peer peer, uint16_t remoteCall, uint64_t nowMs);
    // The ended call a frame names, or null; forgets ones kept long enough.
    const EndedCall* Find(uint16_t localCall, uint64_t nowMs);
    bool Holds(uint16_t localCall) const { return m_calls.count(localCall) != 0; }

private:
    uint32_t m_keepMs;
    std::map<uint16_t, EndedCall> m_calls;
};

}  // namespace iax2
