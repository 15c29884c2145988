// Two endpoints call each other through a relay that loses, repeats and
// reorders datagrams: every call connects, carries voice both ways and ends
// on both sides. The callee "registers" with the relay's address so that it
// takes the caller's calls; the caller, being no registrar, ignores that.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "iax2/endpoint.h"

namespace {

using namespace iax2;

struct RelaySocket {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    uint16_t port = 0;
    RelaySocket()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~RelaySocket() { close(fd); }
};

// Forwards A <-> B: 20 % lost, 5 % sent twice, 5 % held back behind the next.
class LossyRelay {
public:
    explicit LossyRelay(uint32_t seed) : m_random(seed) {}
    RelaySocket towardA, towardB;  // A sends to towardA; B to towardB

    void Pump(const Endpoint& a, const Endpoint& b)
    {
        Forward(towardA, towardB, uint16_t(b.port()), &m_heldForB);
        Forward(towardB, towardA, uint16_t(a.port()), &m_heldForA);
    }

private:
    void Forward(const RelaySocket& from, const RelaySocket& to, uint16_t port,
                 std::vector<uint8_t>* held)
    {
        uint8_t buffer[2048];
        for (ssize_t got; (got = recv(from.fd, buffer, sizeof buffer, 0)) >= 0;) {
            const std::vector<uint8_t> datagram(buffer, buffer + got);
            const int roll = int(m_random() % 100);
            if (roll < 20)
                continue;
            if (roll < 25 && held->empty()) {
                *held = datagram;
                continue;
            }
            Send(to, port, datagram);
            if (roll < 30)
                Send(to, port, datagram);
            if (!held->empty()) {
                Send(to, port, *held);
                held->clear();
            }
        }
    }
    static void Send(const RelaySocket& via, uint16_t port, const std::vector<uint8_t>& datagram)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        sendto(via.fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }
    std::mt19937 m_random;
    std::vector<uint8_t> m_heldForA, m_heldForB;
};

EndpointOptions Options()
{
    EndpointOptions options;
    options.jitterDelayMs = 0;
    options.transport.initialTimeoutMs = 100;
    options.transport.maxRetries = 10;
    return options;
}

struct Side {
    Endpoint endpoint{Options()};
    std::vector<Event> events;
    std::optional<Event> Take(EventType type)
    {
        for (auto it = events.begin(); it != events.end(); ++it)
            if (it->type == type) {
                Event event = *it;
                events.erase(it);
                return event;
            }
        return std::nullopt;
    }
};

class Iax2Loss : public ::testing::Test {
protected:
    LossyRelay relay{20261211};
    Side a, b;

    void SetUp() override
    {
        ASSERT_GT(a.endpoint.Open(0), 0);
        ASSERT_GT(b.endpoint.Open(0), 0);
        ASSERT_EQ(b.endpoint.Register({"b", "x", "127.0.0.1", relay.towardB.port, 60}), 0);
    }
    void Pump(int ms)
    {
        pollfd fds[4] = {{a.endpoint.handle(), POLLIN, 0},
                         {b.endpoint.handle(), POLLIN, 0},
                         {relay.towardA.fd, POLLIN, 0},
                         {relay.towardB.fd, POLLIN, 0}};
        poll(fds, 4, ms);
        relay.Pump(a.endpoint, b.endpoint);
        for (Side* side : {&a, &b}) {
            side->endpoint.Service();
            for (Event event; side->endpoint.NextEvent(&event);)
                side->events.push_back(event);
        }
    }
    void PumpFor(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until)
            Pump(5);
    }
    std::optional<Event> Wait(Side& side, EventType type, int timeoutMs = 10000)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto event = side.Take(type))
                return event;
            Pump(10);
        }
        return std::nullopt;
    }
};

TEST_F(Iax2Loss, CallsConnectCarryVoiceAndEndDespiteLossRepeatsAndReordering)
{
    const std::vector<uint8_t> voice(160, 0x55);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const int call =
            a.endpoint.PlaceCall({"a", "", "127.0.0.1", relay.towardA.port, "100", "", "", "", {}});
        ASSERT_GT(call, 0);
        auto incoming = Wait(b, EventType::IncomingCall);
        ASSERT_TRUE(incoming);
        ASSERT_EQ(b.endpoint.Answer(incoming->call), 0);
        ASSERT_TRUE(Wait(a, EventType::Answered));
        int heardByA = 0, heardByB = 0;
        for (int frame = 0; frame < 25; ++frame) {
            ASSERT_EQ(a.endpoint.SendVoice(call, kFormatUlaw, voice, 160), 0);
            ASSERT_EQ(b.endpoint.SendVoice(incoming->call, kFormatUlaw, voice, 160), 0);
            PumpFor(20);  // voice paced as a phone sends it
            while (a.Take(EventType::Voice))
                ++heardByA;
            while (b.Take(EventType::Voice))
                ++heardByB;
        }
        EXPECT_GT(heardByA, 10) << "of 25";
        EXPECT_GT(heardByB, 10) << "of 25";
        ASSERT_EQ(a.endpoint.Hangup(call), 0);
        ASSERT_TRUE(Wait(b, EventType::Hangup));
        for (int i = 0; i < 500 && a.endpoint.NextDueMs() >= 0; ++i)
            Pump(10);
        EXPECT_FALSE(a.Take(EventType::Timeout)) << "nothing given up";
        EXPECT_FALSE(b.Take(EventType::Timeout));
    }
}

}  // namespace
