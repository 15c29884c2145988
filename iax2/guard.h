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
    explicit ReplyBudget(int perSecond) : perSecond_(perSecond) {}
    // True when one more reply to that address fits its budget now.
    bool Spend(Peer to, uint64_t nowMs);

private:
    struct Bucket {
        uint64_t windowStartMs;
        int spent;
    };
    int perSecond_;
    std::map<uint64_t, Bucket> buckets_;
};

struct EndedCall {
    Peer peer;
    uint16_t remoteCall = 0;
    uint64_t untilMs = 0;
};

class EndedCalls {
public:
    explicit EndedCalls(uint32_t keepMs) : keepMs_(keepMs) {}
    void Remember(uint16_t localCall, Peer peer, uint16_t remoteCall, uint64_t nowMs);
    // The ended call a frame names, or null; forgets ones kept long enough.
    const EndedCall* Find(uint16_t localCall, uint64_t nowMs);
    bool Holds(uint16_t localCall) const { return calls_.count(localCall) != 0; }

private:
    uint32_t keepMs_;
    std::map<uint16_t, EndedCall> calls_;
};

}  // namespace iax2
