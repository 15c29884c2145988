// A scripted IAX peer for tests: the far end of a call, played by the test.
//
// The peer owns one UDP socket on 127.0.0.1 with an ephemeral port. It talks
// raw bytes (tools/peer/peer_frame.h builds and parses them), so it does
// not share a line of code with the library under test. It behaves like a
// small server for one call at a time: it numbers its full frames, learns the
// other side's call number from the first full frame it receives, and can
// acknowledge received full frames by itself.
//
// Typical use, the library placing a call to the peer:
//
//   iaxpeer::IaxTestPeer peer;                      // bound to 127.0.0.1:0
//   peer.SetAutoAck(true);
//   ... library sends NEW to 127.0.0.1:peer.Port() ...
//   auto newFrame = peer.ExpectIax(iaxpeer::kNew);  // learns the caller
//   ASSERT_TRUE(newFrame) << peer.LastError();
//   peer.SendIax(iaxpeer::kAccept);
//   peer.SendControl(iaxpeer::kRinging);
//
// and the peer calling the library:
//
//   peer.SetTarget(libraryPort);
//   peer.StartCall();                              // fresh call state
//   peer.SendIax(iaxpeer::kNew, "exten=100;formats=2;version=1;");
//
// Calls: the peer learns the library's call number from the first full
// frame of a call (its automatic ACKs included), so StartCall() comes before
// the frame that opens a call, i.e. before the library sends its NEW or the
// peer sends one. The ScriptedServer (scripted_server.h) does this itself.
//
// Waiting: every Expect... waits for a datagram with poll() for at most the
// given time and never sleeps otherwise. Received frames that an Expect does
// not ask for stay queued for later Expects, so the order in which the
// library's answers and acknowledgements arrive does not matter unless a
// test reads them with Receive(). ACKs are kept apart (ExpectAckOf, Acks()).
//
// Time stamps: the peer stamps its full frames with milliseconds since the
// first frame it sent on the current call, read from its clock (a monotonic
// clock unless SetClock() gives another, e.g. a test's fake tick source). A
// receiver whose jitter buffer starts at the first frame thus sees delays
// near 0 and delivers at once. The library sets its receive time base at
// the first frame it times (not at ACKs, LAGRP, DPREP, QUELCH, REGAUTH or the
// transfer messages) so that this frame's own delay is 0, whatever its time
// stamp; later frames are timed against it.
//
// Not thread-safe; use one peer from one thread.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/peer/peer_frame.h"

namespace iaxpeer {

constexpr int kDefaultWaitMs = 2000;

// The peer's view of the call it is running.
struct PeerCall {
    uint16_t ownCall = 1;                // the peer's call number
    uint16_t remoteCall = kUnknownCall;  // the library's, once learned
    uint16_t outSeq = 0;                 // next sequence number to send
    bool timeBaseSet = false;
    uint32_t timeBaseMs = 0;       // clock reading at the first frame sent
    uint32_t lastTimestampMs = 0;  // last full or mini time stamp sent
};

// Overrides for one SendFull(); unset fields take the call's values.
struct SendOptions {
    std::optional<uint32_t> timestampMs;
    std::optional<uint16_t> sequence;  // given: the call's counter is not touched
    std::optional<uint16_t> sourceCall;
    std::optional<uint16_t> destCall;
    std::optional<uint8_t> subclassByte;  // raw byte instead of the compressed subclass
};

class IaxTestPeer {
public:
    IaxTestPeer();
    ~IaxTestPeer();
    IaxTestPeer(const IaxTestPeer&) = delete;
    IaxTestPeer& operator=(const IaxTestPeer&) = delete;

    bool Ok() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    uint16_t Port() const { return m_port; }

    // Where frames go: 127.0.0.1 and this port. Learned from the sender of the
    // first datagram received when not set.
    void SetTarget(uint16_t port);
    uint16_t TargetPort() const;

    // Acknowledge every received full frame except ACK, REJECT, INVAL, TXCNT
    // and TXACC, as the protocol asks; off by default.
    void SetAutoAck(bool on) { m_autoAck = on; }
    void SetClock(std::function<uint32_t()> msClock) { m_clock = std::move(msClock); }

    // Forget the current call; ownCall 0 picks 1000 + a counter.
    void StartCall(uint16_t ownCall = 0);
    PeerCall& Call() { return m_call; }

    // --- sending ---------------------------------------------------------
    // Builds and sends one full frame. Sequence numbers follow the protocol:
    // PONG, TXCNT and TXACC carry 0 and ACK is sent by SendAck; all others
    // take the call's next number. Returns the header that went out.
    FullHeader SendFull(uint8_t type, uint32_t subclass, const Bytes& payload = {},
                        const SendOptions& options = {});
    FullHeader SendIax(uint32_t message, const std::string& text = "", bool withNul = false,
                       const SendOptions& options = {});
    FullHeader SendControl(uint32_t control);
    FullHeader SendVoice(uint32_t format, const Bytes& data, const SendOptions& options = {});
    // A mini frame with the low 16 bits of the given (or a fresh) time stamp.
    void SendMini(const Bytes& data, std::optional<uint32_t> timestampMs = std::nullopt);
    void SendAck(const PeerFrame& frame);
    void SendRaw(const Bytes& datagram);
    // The time stamp the next frame would carry (milliseconds of the call).
    uint32_t Now();

    // --- receiving -------------------------------------------------------
    // The next received frame of any kind but ACK, in arrival order.
    std::optional<PeerFrame> Receive(int timeoutMs = kDefaultWaitMs);
    // The first full frame of that type and subclass, waiting up to timeoutMs.
    std::optional<PeerFrame> ExpectFull(uint8_t type, uint32_t subclass,
                                        int timeoutMs = kDefaultWaitMs);
    std::optional<PeerFrame> ExpectIax(uint32_t message, int timeoutMs = kDefaultWaitMs)
    {
        return ExpectFull(kIax, message, timeoutMs);
    }
    // The first voice frame, full or mini.
    std::optional<PeerFrame> ExpectVoice(int timeoutMs = kDefaultWaitMs);
    // An ACK that echoes this sequence number and time stamp.
    std::optional<PeerFrame> ExpectAckOf(const FullHeader& sent, int timeoutMs = kDefaultWaitMs);
    // True when no frame but ACKs arrives within waitMs (and none is queued).
    bool ExpectSilence(int waitMs);
    // Reads whatever has arrived without waiting.
    void Drain();

    const std::vector<PeerFrame>& Acks() const { return m_acks; }
    const std::deque<PeerFrame>& Pending() const { return m_pending; }
    void ClearPending() { m_pending.clear(); }
    // Why the last Expect failed, with every frame still queued.
    const std::string& LastError() const { return m_lastError; }
    // The library's address as seen by the peer (127.0.0.1 and its port).
    const sockaddr_in& LastSender() const { return m_lastSender; }

private:
    bool ReadOne(int timeoutMs);
    void Account(const PeerFrame& frame);
    void SendTo(const Bytes& datagram);
    void Fail(const std::string& what);
    uint32_t CallTimestamp();

    int m_fd = -1;
    uint16_t m_port = 0;
    sockaddr_in m_target{};
    bool m_targetSet = false;
    sockaddr_in m_lastSender{};
    bool m_autoAck = false;
    std::function<uint32_t()> m_clock;
    PeerCall m_call;
    uint16_t m_callCounter = 0;
    std::deque<PeerFrame> m_pending;
    std::vector<PeerFrame> m_acks;
    std::string m_lastError;
};

}  // namespace iaxpeer
