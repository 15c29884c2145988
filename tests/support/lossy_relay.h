// A spoiling path between two UDP parties on 127.0.0.1: every datagram, in
// either direction, is lost, sent twice or held back behind the next one at
// the rates given, drawn from a seeded generator. Party A sends to
// PortForA() and hears from it; B likewise with PortForB(). Nothing runs on
// its own: the user calls Pump() whenever either socket is readable and at
// least every few milliseconds, since a datagram held back goes out at the
// latest kHoldMs later even when nothing follows it.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace velnar::test {

struct RelayRates {
    int lossPercent = 20;
    int duplicatePercent = 5;
    int reorderPercent = 5;
};

class LossyRelay {
public:
    struct Counts {
        uint64_t received = 0, lost = 0, duplicated = 0, reordered = 0;
    };
    static constexpr int kHoldMs = 40;

    explicit LossyRelay(uint32_t seed, RelayRates rates = {});
    ~LossyRelay();
    LossyRelay(const LossyRelay&) = delete;
    LossyRelay& operator=(const LossyRelay&) = delete;

    uint16_t PortForA() const { return m_towardA.port; }
    uint16_t PortForB() const { return m_towardB.port; }
    int FdForA() const { return m_towardA.fd; }
    int FdForB() const { return m_towardB.fd; }
    // Moves what waits: A's datagrams on to portB, B's on to portA.
    void Pump(uint16_t portA, uint16_t portB);
    const Counts& counts() const { return m_counts; }

private:
    using Clock = std::chrono::steady_clock;
    struct Side {
        int fd = -1;
        uint16_t port = 0;
        std::vector<uint8_t> held;  // a datagram waiting for the next one
        Clock::time_point heldSince;
    };
    void Forward(Side& from, const Side& to, uint16_t port);
    void Deliver(Side& from, const Side& to, uint16_t port, const std::vector<uint8_t>& datagram);
    void ReleaseStale(Side& from, const Side& to, uint16_t port);
    static void Open(Side* side);
    static void Send(const Side& via, uint16_t port, const std::vector<uint8_t>& datagram);

    std::mt19937 m_random;
    RelayRates m_rates;
    Side m_towardA, m_towardB;
    Counts m_counts;
};

}  // namespace velnar::test
