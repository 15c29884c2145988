// Sequencing and retransmission of one dialog on a clock the test moves.
#include "iax2/transport.h"

#include <gtest/gtest.h>

#include "iax2/codes.h"

namespace iax2 {
namespace {

FullHeader Inbound(uint8_t oseqno, uint8_t iseqno, uint8_t type = kTypeCommand,
                   uint32_t subclass = kPing, uint32_t stamp = 0)
{
    return FullHeader{0x2B67, 0x0123, false, stamp, oseqno, iseqno, type, subclass};
}

struct TransportTest : ::testing::Test {
    Transport transport{1000, TransportLimits{}};
    Bytes frame;
    std::vector<Bytes> resent;
    void SendReliable(uint64_t now)
    {
        ASSERT_TRUE(transport.Build(kTypeCommand, kPing, {}, now, &frame));
    }
};

TEST_F(TransportTest, LostFrameIsResentWithBackOffThenGivenUp)
{
    SendReliable(1000);
    const uint64_t due[] = {2000, 4000, 8000, 16000};
    for (uint64_t at : due) {
        resent.clear();
        ASSERT_TRUE(transport.Service(at - 1, &resent));
        EXPECT_TRUE(resent.empty()) << "early at " << at;
        ASSERT_TRUE(transport.Service(at, &resent));
        ASSERT_EQ(resent.size(), 1u) << "at " << at;
        EXPECT_TRUE(resent[0][2] & 0x80) << "R bit";
        EXPECT_EQ(Bytes(resent[0].begin() + 4, resent[0].end()),
                  Bytes(frame.begin() + 4, frame.end()))
            << "same stamp and numbers";
    }
    EXPECT_TRUE(transport.Service(25999, &resent)) << "the cap holds it at 10 s";
    EXPECT_FALSE(transport.Service(26000, &resent)) << "fifth timeout: given up";
}

TEST_F(TransportTest, IntervalFollowsTheRoundTripWithinItsBounds)
{
    Transport quick(0, TransportLimits{8, 1000, 100, 10000, 128});
    quick.MeasuredRoundTrip(20);
    ASSERT_TRUE(quick.Build(kTypeCommand, kPing, {}, 0, &frame));
    EXPECT_EQ(quick.NextDueMs(), 100u) << "never below 100 ms";

    Transport slow(0, TransportLimits{8, 1000, 100, 10000, 128});
    slow.MeasuredRoundTrip(300);
    ASSERT_TRUE(slow.Build(kTypeCommand, kPing, {}, 0, &frame));
    std::vector<uint64_t> sentAt;
    for (uint64_t now = 0; now <= 40000; now += 10) {
        resent.clear();
        slow.Service(now, &resent);
        if (!resent.empty())
            sentAt.push_back(now);
    }
    const std::vector<uint64_t> expected = {600, 1800, 4200, 9000, 18600, 28600, 38600};
    EXPECT_EQ(sentAt, expected) << "twice the round trip, doubling up to 10 s";
}

TEST_F(TransportTest, AcknowledgedExplicitlyByStampOrImplicitlyBySequence)
{
    SendReliable(1000);
    const uint32_t first = transport.ClockMs(1000);
    SendReliable(1000);
    SendReliable(1005);
    EXPECT_EQ(transport.Receive(Inbound(0, 0, kTypeCommand, kAck, first)), Verdict::Neutral);
    EXPECT_FALSE(transport.AllAcknowledged());
    EXPECT_EQ(transport.Receive(Inbound(0, 3)), Verdict::InOrder);
    EXPECT_TRUE(transport.AllAcknowledged());
    EXPECT_EQ(transport.iseqno(), 1);
    EXPECT_EQ(transport.oseqno(), 3);
}

TEST_F(TransportTest, FullFrameStampsStrictlyIncrease)
{
    const uint32_t a = transport.NextFullStamp(1500);
    const uint32_t b = transport.NextFullStamp(1500);
    const uint32_t c = transport.NextFullStamp(1490);
    EXPECT_EQ(a, 500u);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

TEST_F(TransportTest, DuplicatesGapsAndReordering)
{
    EXPECT_EQ(transport.Receive(Inbound(0, 0)), Verdict::InOrder);
    EXPECT_EQ(transport.Receive(Inbound(0, 0)), Verdict::Duplicate);
    EXPECT_EQ(transport.Receive(Inbound(2, 0)), Verdict::Gap) << "1 is missing";
    EXPECT_EQ(transport.iseqno(), 1);
    EXPECT_EQ(transport.Receive(Inbound(1, 0)), Verdict::InOrder);
    EXPECT_EQ(transport.Receive(Inbound(2, 0)), Verdict::InOrder) << "resent after the VNAK";
    EXPECT_EQ(transport.Receive(Inbound(0, 0, kTypeCommand, kVnak)), Verdict::Neutral);
    EXPECT_EQ(transport.iseqno(), 3) << "counter-neutral frames do not count";
}

TEST_F(TransportTest, SequenceNumbersWrap)
{
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(transport.Receive(Inbound(uint8_t(i), transport.oseqno())), Verdict::InOrder);
        SendReliable(1000 + uint64_t(i));
        transport.Receive(Inbound(0, transport.oseqno(), kTypeCommand, kAck));
    }
    EXPECT_EQ(transport.iseqno(), uint8_t(300));
    EXPECT_TRUE(transport.AllAcknowledged());
    EXPECT_EQ(transport.Receive(Inbound(uint8_t(299), 0)), Verdict::Duplicate);
}

TEST_F(TransportTest, VnakResendsFromItsNumberOn)
{
    SendReliable(1000);
    SendReliable(1001);
    SendReliable(1002);
    ASSERT_TRUE(transport.Build(kTypeCommand, kAck, {}, 1003, &frame));
    transport.ResendFrom(1, &resent);
    ASSERT_EQ(resent.size(), 2u) << "frames 1 and 2; the ACK is never queued";
    EXPECT_EQ(resent[0][8], 1);
    EXPECT_EQ(resent[1][8], 2);
}

TEST_F(TransportTest, QueueIsBounded)
{
    Transport small(0, TransportLimits{4, 1000, 100, 10000, 2});
    EXPECT_TRUE(small.Build(kTypeCommand, kPing, {}, 0, &frame));
    EXPECT_TRUE(small.Build(kTypeCommand, kPing, {}, 0, &frame));
    EXPECT_FALSE(small.Build(kTypeCommand, kPing, {}, 0, &frame));
    EXPECT_TRUE(small.Build(kTypeCommand, kAck, {}, 0, &frame)) << "ACKs always go out";
}

}  // namespace
}  // namespace iax2
