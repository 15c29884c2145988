// Two endpoints call each other through a relay that loses, repeats and
// reorders datagrams: every call connects, carries voice both ways and ends
// on both sides. The callee "registers" with the relay's address so that it
// takes the caller's calls; the caller, being no registrar, ignores that.
#include <poll.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "iax2/endpoint.h"
#include "tests/support/lossy_relay.h"

namespace {

using namespace iax2;

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
    velnar::test::LossyRelay relay{20261211};  // 20 % lost, 5 % twice, 5 % late
    Side a, b;

    void SetUp() override
    {
        ASSERT_GT(a.endpoint.Open(0), 0);
        ASSERT_GT(b.endpoint.Open(0), 0);
        ASSERT_EQ(b.endpoint.Register({"b", "x", "127.0.0.1", relay.PortForB(), 60}), 0);
    }
    void Pump(int ms)
    {
        pollfd fds[4] = {{a.endpoint.handle(), POLLIN, 0},
                         {b.endpoint.handle(), POLLIN, 0},
                         {relay.FdForA(), POLLIN, 0},
                         {relay.FdForB(), POLLIN, 0}};
        poll(fds, 4, ms);
        relay.Pump(uint16_t(a.endpoint.port()), uint16_t(b.endpoint.port()));
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
            a.endpoint.PlaceCall({"a", "", "127.0.0.1", relay.PortForA(), "100", "", "", "", {}});
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
        EXPECT_EQ(a.endpoint.Hangups().unanswered, 0u);
    }
    const HangupCounts& hangups = a.endpoint.Hangups();
    EXPECT_EQ(hangups.acknowledged + hangups.invalidated, 5u);
}

}  // namespace
