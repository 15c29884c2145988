// Sequencing and reliable delivery of one dialog (a call or a registration
// exchange): the two 8-bit counters, the per-dialog clock, explicit and
// implicit acknowledgement, retransmission with back-off and a cap, and the
// verdict on every received full frame. Knows no socket: it hands back the
// bytes to send. Layer: above wire.h and codes.h.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "iax2/socket.h"
#include "iax2/wire.h"

namespace iax2 {

struct TransportLimits {
    int maxRetries = 4;                // retransmissions before the dialog is given up
    uint32_t initialTimeoutMs = 1000;  // before a round trip has been measured
    uint32_t minTimeoutMs = 100;
    uint32_t maxTimeoutMs = 10000;
    size_t maxQueuedFrames = 128;  // unacknowledged frames kept for resending
};

enum class Verdict {
    InOrder,    // process it; the expected inbound number has advanced
    Duplicate,  // seen before: acknowledge again, do not process
    Gap,        // frames are missing before it: drop it and ask with VNAK
    Neutral,    // ACK, INVAL, VNAK, TXCNT, TXACC: outside the counters
};

class Transport {
public:
    Transport(uint64_t nowMs, TransportLimits limits) : m_startMs(nowMs), m_limits(limits) {}

    uint16_t localCall = 0;
    uint16_t remoteCall = 0;  // 0 until the peer's first answer names it
    Peer peer;

    // Milliseconds on this dialog's clock; full frames get strictly
    // increasing stamps so that an ACK's echo names one frame.
    uint32_t ClockMs(uint64_t nowMs) const { return uint32_t(nowMs - m_startMs); }
    uint32_t NextFullStamp(uint64_t nowMs);

    // A full frame stamped now with the current counters; reliable frames
    // advance the outbound number and are kept until acknowledged. Returns
    // false (nothing built) when the retransmission queue is full.
    bool Build(uint8_t type, uint32_t subclass, ByteView data, uint64_t nowMs, Bytes* out);
    // An ACK (or PONG/LAGRP-style reply) carrying an echoed time stamp.
    bool BuildEcho(uint8_t type, uint32_t subclass, uint32_t echoedStamp, ByteView data,
                   uint64_t nowMs, Bytes* out);

    // Applies the frame's acknowledgements and says what to do with it.
    Verdict Receive(const FullHeader& header);
    // Frames a VNAK asks for: every unacknowledged one from its number on.
    void ResendFrom(uint8_t iseqno, std::vector<Bytes>* out);
    // Frames whose retransmission is due; false once one has run out of
    // retries (the dialog is dead and must be dropped without a word).
    bool Service(uint64_t nowMs, std::vector<Bytes>* out);
    // When the next retransmission is due, or UINT64_MAX with none queued.
    uint64_t NextDueMs() const;
    bool AllAcknowledged() const { return m_queue.empty(); }
    // A round trip as a PONG measured it; implausible ones are ignored.
    void MeasuredRoundTrip(uint32_t ms)
    {
        if (ms < m_limits.maxTimeoutMs)
            m_roundTripMs = ms;
    }

    // Restart the counters for a request resent with a call token: the
    // first attempt is forgotten and the resend is again number 0.
    void RestartCounters();

    uint8_t oseqno() const { return m_oseqno; }
    uint8_t iseqno() const { return m_iseqno; }

private:
    struct Sent {
        Bytes bytes;
        uint8_t oseqno;
        uint32_t stamp;
        uint64_t dueMs;
        uint32_t intervalMs;
        int retries;
    };
    uint32_t FirstTimeoutMs() const;
    void AckThrough(uint8_t iseqno);
    void AckStamp(uint32_t stamp);

    uint64_t m_startMs;
    TransportLimits m_limits;
    uint8_t m_oseqno = 0;
    uint8_t m_iseqno = 0;
    uint32_t m_lastStamp = 0;
    bool m_stamped = false;
    uint32_t m_roundTripMs = 0;
    std::deque<Sent> m_queue;
};

}  // namespace iax2
