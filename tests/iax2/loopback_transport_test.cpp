// The transport seen from the wire: retransmission until give-up, VNAK in
// both directions, duplicates re-acknowledged, INVAL for an ended call, and
// what a client drops without a word.
#include <gtest/gtest.h>

#include "tests/iax2/scripted_peer.h"

namespace {

using namespace iax2;
using peer2::Frame;
using peer2::Ie;
using peer2::IeNumber;

struct Iax2Transport : ::testing::Test {
    // 50 ms: five tries within 1.6 s.
    static EndpointOptions Options(int initialTimeoutMs)
    {
        EndpointOptions options;
        options.jitterDelayMs = 0;
        options.pingIntervalMs = 600000;
        options.transport.initialTimeoutMs = initialTimeoutMs;
        return options;
    }
    explicit Iax2Transport(int initialTimeoutMs = 50) : endpoint(Options(initialTimeoutMs)) {}
    Endpoint endpoint;
    peer2::ScriptedPeer exchange;
    int call = 0;

    void SetUp() override { ASSERT_GT(endpoint.Open(0), 0); }
    void Place() { Place(exchange); }
    void Place(peer2::ScriptedPeer& to)
    {
        call =
            endpoint.PlaceCall(CallRequest{"", "", "127.0.0.1", to.port(), "100", "", "", "", {}});
        ASSERT_GT(call, 0);
    }
    void Connect() { Connect(exchange); }
    void Connect(peer2::ScriptedPeer& to)
    {
        Place(to);
        auto fresh = to.ExpectCommand(endpoint, kNew);
        ASSERT_TRUE(fresh);
        to.theirs = fresh->source;
        to.Send(endpoint, 6, kAccept, IeNumber(kIeFormat, kFormatGsm, 4));
        to.Send(endpoint, 4, kCtrlAnswer);
        ASSERT_TRUE(to.ExpectEvent(endpoint, EventType::Answered));
    }
};

TEST_F(Iax2Transport, UnansweredRequestIsResentThenGivenUpSilently)
{
    Place();
    int sent = 0, retransmitted = 0;
    while (auto fresh = exchange.ExpectCommand(endpoint, kNew, 2500)) {
        ++sent;
        retransmitted += fresh->retransmitted;
        EXPECT_EQ(fresh->oseqno, 0);
    }
    EXPECT_EQ(sent, 5) << "the first and four retries";
    EXPECT_EQ(retransmitted, 4);
    auto timeout = exchange.ExpectEvent(endpoint, EventType::Timeout, 100);
    ASSERT_TRUE(timeout);
    EXPECT_EQ(timeout->call, call);
    EXPECT_EQ(endpoint.Hangup(call), -1) << "the call is gone";
}

TEST_F(Iax2Transport, DuplicatesAreAcknowledgedAgainButNotActedOn)
{
    Connect();
    exchange.oseqno -= 1;  // the ANSWER again, as if our ACK were lost
    exchange.Send(endpoint, 4, kCtrlAnswer);
    const uint32_t stamp = exchange.clockMs;
    EXPECT_TRUE(exchange.Expect(endpoint, [&](const Frame& f) {
        return f.IsCommand(kAck) && f.timestamp == stamp;
    })) << "the duplicate's own ACK";
    EXPECT_FALSE(exchange.ExpectEvent(endpoint, EventType::Answered, 200));
}

TEST_F(Iax2Transport, GapIsAnsweredWithVnakAndVnakIsHonoured)
{
    Connect();
    exchange.oseqno += 1;  // as if one frame were lost on the way
    const uint8_t missing = exchange.iseqno;
    exchange.Send(endpoint, 1, '5');
    auto vnak = exchange.ExpectCommand(endpoint, kVnak);
    ASSERT_TRUE(vnak);
    EXPECT_EQ(vnak->iseqno, exchange.oseqno - 2);
    EXPECT_FALSE(exchange.ExpectEvent(endpoint, EventType::Dtmf, 200)) << "out of order: ignored";
    exchange.oseqno -= 2;
    exchange.Send(endpoint, 1, '4');
    exchange.Send(endpoint, 1, '5');
    auto four = exchange.ExpectEvent(endpoint, EventType::Dtmf);
    auto five = exchange.ExpectEvent(endpoint, EventType::Dtmf);
    ASSERT_TRUE(four && five);
    EXPECT_EQ(four->digit, '4');
    EXPECT_EQ(five->digit, '5');

    // Our side: two digits we send go missing; the VNAK brings both back.
    ASSERT_EQ(endpoint.SendDtmf(call, '1'), 0);
    ASSERT_EQ(endpoint.SendDtmf(call, '2'), 0);
    ASSERT_TRUE(exchange.Expect(endpoint, [](const Frame& f) { return f.type == 1; }));
    ASSERT_TRUE(exchange.Expect(endpoint, [](const Frame& f) { return f.type == 1; }));
    const uint8_t saved = exchange.iseqno;
    exchange.iseqno = missing;
    exchange.Send(endpoint, 6, kVnak);
    auto again = exchange.Expect(endpoint, [](const Frame& f) { return f.type == 1; });
    ASSERT_TRUE(again);
    EXPECT_EQ(again->subclass, '1');
    EXPECT_TRUE(again->retransmitted);
    exchange.iseqno = saved;
}

TEST_F(Iax2Transport, EndedCallIsAnsweredWithInvalButNeverInALoop)
{
    Connect();
    exchange.Send(endpoint, 6, kHangup);
    ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Hangup));
    exchange.Send(endpoint, 2, kFormatGsm, peer2::Bytes(33, 0));
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kInval));
    exchange.Send(endpoint, 6, kInval);
    exchange.Send(endpoint, 6, kAck);
    exchange.Send(endpoint, 6, kPong);
    EXPECT_TRUE(exchange.Quiet(endpoint, 300));
    EXPECT_FALSE(exchange.ExpectCommand(endpoint, kInval, 100));
}

TEST_F(Iax2Transport, HangupOutcomesAreCountedAfterTheCallIsGone)
{
    Connect();
    ASSERT_EQ(endpoint.Hangup(call), 0);
    auto hangup = exchange.ExpectCommand(endpoint, kHangup);
    ASSERT_TRUE(hangup);
    exchange.Ack(endpoint, *hangup);
    EXPECT_TRUE(exchange.Quiet(endpoint, 200));
    EXPECT_EQ(endpoint.Hangups().acknowledged, 1u);

    peer2::ScriptedPeer forgetful;  // answers the HANGUP as a call it never had
    Connect(forgetful);
    ASSERT_EQ(endpoint.Hangup(call), 0);
    ASSERT_TRUE(forgetful.ExpectCommand(endpoint, kHangup));
    forgetful.iseqno -= 1;  // an INVAL that does not also acknowledge it
    forgetful.Send(endpoint, 6, kInval);
    EXPECT_TRUE(forgetful.Quiet(endpoint, 200));
    EXPECT_EQ(endpoint.Hangups().invalidated, 1u);

    peer2::ScriptedPeer gone;  // never answers again
    Connect(gone);
    ASSERT_EQ(endpoint.Hangup(call), 0);
    int sent = 0;
    while (gone.ExpectCommand(endpoint, kHangup, 2500))
        ++sent;
    EXPECT_EQ(sent, 5) << "the first and four retries";
    EXPECT_EQ(endpoint.Hangups().unanswered, 1u);
    EXPECT_EQ(endpoint.Hangups().acknowledged, 1u);
    EXPECT_EQ(endpoint.Hangups().invalidated, 1u);
    EXPECT_EQ(endpoint.NextDueMs(), -1) << "nothing of the three calls is left";
}

TEST_F(Iax2Transport, WhileOurHangupIsUnacknowledgedOnlyNewerFramesGetInval)
{
    Connect();
    ASSERT_EQ(endpoint.Hangup(call), 0);
    ASSERT_TRUE(exchange.ExpectCommand(endpoint, kHangup));
    exchange.oseqno -= 1;  // the ANSWER again: our ACK of it was lost
    exchange.Send(endpoint, 4, kCtrlAnswer);
    const uint32_t stamp = exchange.clockMs;
    auto reply = exchange.Expect(
        endpoint, [](const Frame& f) { return f.IsCommand(kAck) || f.IsCommand(kInval); });
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->IsCommand(kAck));
    EXPECT_EQ(reply->timestamp, stamp);
    exchange.Send(endpoint, 2, kFormatGsm, peer2::Bytes(33, 0));  // sent after our HANGUP
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kInval));
}

// No timer resends within a test.
struct Iax2Closing : Iax2Transport {
    Iax2Closing() : Iax2Transport(5000) {}
};

TEST_F(Iax2Closing, VnakAfterOurHangupIsHonouredAtOnce)
{
    Connect();
    ASSERT_EQ(endpoint.SendVoice(call, kFormatGsm, peer2::Bytes(33, 0x55), 160), 0);
    auto voice = exchange.Expect(endpoint, [](const Frame& f) { return f.full && f.type == 2; });
    ASSERT_TRUE(voice);
    ASSERT_EQ(endpoint.Hangup(call), 0);
    ASSERT_TRUE(exchange.ExpectCommand(endpoint, kHangup));
    // The voice frame never arrived, as far as the exchange knows: it asks.
    exchange.iseqno = voice->oseqno;
    exchange.Send(endpoint, 6, kVnak);
    auto again = exchange.Expect(
        endpoint, [](const Frame& f) { return f.full && f.type == 2 && f.retransmitted; }, 1000);
    EXPECT_TRUE(again) << "resent on the VNAK, not after the five-second timer";
}

TEST_F(Iax2Transport, MiniBeforeTheFirstFullVoiceIsDroppedAndAskedFor)
{
    Connect();
    exchange.SendMini(endpoint, 100, peer2::Bytes(33, 0));
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kVnak));
    exchange.Send(endpoint, 2, kFormatGsm, peer2::Bytes(66, 0));
    auto voice = exchange.ExpectEvent(endpoint, EventType::Voice);
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->samples, 320);
    EXPECT_EQ(voice->format, uint32_t(kFormatGsm));
    exchange.SendMini(endpoint, uint16_t(exchange.clockMs + 40), peer2::Bytes(33, 1));
    auto mini = exchange.ExpectEvent(endpoint, EventType::Voice);
    ASSERT_TRUE(mini);
    EXPECT_EQ(mini->samples, 160);
    exchange.SendMini(endpoint, uint16_t(exchange.clockMs + 60), peer2::Bytes(20, 1));
    EXPECT_FALSE(exchange.ExpectEvent(endpoint, EventType::Voice, 200)) << "not whole GSM frames";

    // Twice round the 16-bit stamp without a full frame: minis still count on.
    uint32_t stamp = exchange.clockMs + 80;
    for (int i = 0; i < 8; ++i, stamp += 0x7000) {
        exchange.SendMini(endpoint, uint16_t(stamp), peer2::Bytes(33, uint8_t(i)));
        auto next = exchange.ExpectEvent(endpoint, EventType::Voice);
        ASSERT_TRUE(next) << i;
        EXPECT_EQ(next->timestamp, stamp) << i;
    }
}

TEST_F(Iax2Transport, StrangersGetNothing)
{
    peer2::ScriptedPeer stranger;
    const uint8_t requests[] = {kRegReq, kRegRel, kDpReq, kNew, kPing};
    for (uint8_t request : requests)
        stranger.Send(endpoint, 6, request, IeNumber(kIeVersion, 2, 2));
    stranger.theirs = 0x1234;  // a call we never had
    stranger.Send(endpoint, 6, kHangup);
    stranger.SendMini(endpoint, 5, peer2::Bytes(160, 0));
    stranger.SendRaw(endpoint, {0, 0, 0x80, 1, 0, 0, 0, 0});  // meta video
    stranger.SendRaw(endpoint, {0x80, 1, 0});                 // cut short
    EXPECT_TRUE(stranger.Quiet(endpoint, 300));
    EXPECT_EQ(endpoint.NextDueMs(), -1);
}

}  // namespace
