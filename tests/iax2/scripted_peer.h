// A scripted version-2 exchange for the loopback tests: a UDP socket on
// 127.0.0.1 (ephemeral port) with its own frame coding, written apart from
// the library's so that the two check each other. The test thread drives
// both sides: Pump() waits on the peer's and the endpoint's sockets and
// services the endpoint, so no second thread is needed.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "iax2/endpoint.h"

namespace peer2 {

using Bytes = std::vector<uint8_t>;

struct Frame {
    bool full = true;
    uint16_t source = 0, destination = 0;
    bool retransmitted = false;
    uint32_t timestamp = 0;
    uint8_t oseqno = 0, iseqno = 0, type = 0, subclass = 0;  // subclass octet as sent
    Bytes data;                                              // after the header
    std::vector<std::pair<uint8_t, Bytes>> ies;              // commands only, in order
    const Bytes* Ie(uint8_t id) const;
    std::string Text(uint8_t id) const;
    uint32_t Number(uint8_t id) const;  // big-endian value of a fixed-size element
    bool IsCommand(uint8_t sub) const { return full && type == 6 && subclass == sub; }
};

// Element coding of the test side.
Bytes Ie(uint8_t id, const std::string& text);
Bytes IeNumber(uint8_t id, uint32_t value, int octets);
Bytes Join(std::initializer_list<Bytes> parts);

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    uint16_t port() const { return m_port; }
    iax2::Peer address() const { return {0x7F000001, m_port}; }

    // Our side of one dialog: our call number, the endpoint's, our counters.
    uint16_t ours = 0x2B67, theirs = 0;
    uint8_t oseqno = 0, iseqno = 0;
    uint32_t clockMs = 10;

    // A full frame of this dialog; reliable ones advance our number.
    void Send(iax2::Endpoint& endpoint, uint8_t type, uint8_t subclass, const Bytes& data = {});
    void Ack(iax2::Endpoint& endpoint, const Frame& frame);
    void SendMini(iax2::Endpoint& endpoint, uint16_t stamp, const Bytes& payload);
    void SendRaw(iax2::Endpoint& endpoint, const Bytes& datagram);

    // Waits (servicing the endpoint) for the next frame matching `want`,
    // counting every in-order frame of the endpoint as received. Frames
    // that do not match are skipped. Null after timeoutMs.
    std::optional<Frame> Expect(iax2::Endpoint& endpoint,
                                const std::function<bool(const Frame&)>& want,
                                int timeoutMs = 3000);
    std::optional<Frame> ExpectCommand(iax2::Endpoint& endpoint, uint8_t subclass,
                                       int timeoutMs = 3000);
    // Nothing but ACKs arrives for waitMs.
    bool Quiet(iax2::Endpoint& endpoint, int waitMs);

    // Waits for the endpoint's next event of that type; others are kept.
    std::optional<iax2::Event> ExpectEvent(iax2::Endpoint& endpoint, iax2::EventType type,
                                           int timeoutMs = 3000);
    std::vector<iax2::Event> events;  // every event seen, in order

private:
    void Pump(iax2::Endpoint& endpoint, int timeoutMs);
    void Count(const Frame& frame);
    int m_fd = -1;
    uint16_t m_port = 0;
    std::deque<Frame> m_inbox;
    size_t m_eventsTaken = 0;
};

}  // namespace peer2
