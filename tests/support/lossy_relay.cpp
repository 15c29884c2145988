#include "tests/support/lossy_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velnar::test {

LossyRelay::LossyRelay(uint32_t seed, RelayRates rates) : m_random(seed), m_rates(rates)
{
    Open(&m_towardA);
    Open(&m_towardB);
}

LossyRelay::~LossyRelay()
{
    close(m_towardA.fd);
    close(m_towardB.fd);
}

void LossyRelay::Open(Side* side)
{
    side->fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (side->fd < 0 || bind(side->fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(side->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    side->port = ntohs(address.sin_port);
}

void LossyRelay::Pump(uint16_t portA, uint16_t portB)
{
    Forward(m_towardA, m_towardB, portB);
    Forward(m_towardB, m_towardA, portA);
}

void LossyRelay::Forward(Side& from, const Side& to, uint16_t port)
{
    uint8_t buffer[65536];
    for (ssize_t got; (got = recv(from.fd, buffer, sizeof buffer, 0)) >= 0;) {
        ++m_counts.received;
        Deliver(from, to, port, std::vector<uint8_t>(buffer, buffer + got));
    }
    ReleaseStale(from, to, port);
}

// One roll per datagram decides its fate, so the rates hold exactly in
// expectation; a datagram held back goes out right after the next one.
void LossyRelay::Deliver(Side& from, const Side& to, uint16_t port,
                         const std::vector<uint8_t>& datagram)
{
    const int roll = int(m_random() % 100);
    const int lost = m_rates.lossPercent;
    const int duplicated = lost + m_rates.duplicatePercent;
    const int reordered = duplicated + m_rates.reorderPercent;
    if (roll < lost) {
        ++m_counts.lost;
        return;
    }
    if (roll >= duplicated && roll < reordered && from.held.empty()) {
        ++m_counts.reordered;
        from.held = datagram;
        from.heldSince = Clock::now();
        return;
    }
    Send(to, port, datagram);
    if (roll < duplicated) {
        ++m_counts.duplicated;
        Send(to, port, datagram);
    }
    if (!from.held.empty()) {
        Send(to, port, from.held);
        from.held.clear();
    }
}

void LossyRelay::ReleaseStale(Side& from, const Side& to, uint16_t port)
{
    if (from.held.empty() || Clock::now() - from.heldSince < std::chrono::milliseconds(kHoldMs))
        return;
    Send(to, port, from.held);
    from.held.clear();
}

void LossyRelay::Send(const Side& via, uint16_t port, const std::vector<uint8_t>& datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(via.fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
}

}  // namespace velnar::test
