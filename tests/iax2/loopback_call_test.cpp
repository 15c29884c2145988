// Calls over real UDP on 127.0.0.1 against the scripted exchange: the call
// token round trip, the MD5 challenge, call progress, early media, voice
// both ways and every way a call ends.
#include <gtest/gtest.h>

#include "iax/md5.h"
#include "tests/iax2/scripted_peer.h"

namespace {

using namespace iax2;
using peer2::Frame;
using peer2::Ie;
using peer2::IeNumber;

struct Iax2Call : ::testing::Test {
    EndpointOptions Options()
    {
        EndpointOptions options;
        options.jitterDelayMs = 0;
        options.pingIntervalMs = 600000;
        return options;
    }
    Endpoint endpoint{Options()};
    peer2::ScriptedPeer exchange;
    int call = 0;

    void SetUp() override
    {
        ASSERT_GT(endpoint.Open(0), 0);
        ASSERT_NE(endpoint.port(), 4569);
    }
    CallRequest Request()
    {
        CallRequest request;
        request.user = "agent";
        request.password = "s3cret";
        request.host = "127.0.0.1";
        request.port = exchange.port();
        request.number = "100";
        request.callingNumber = "2001";
        request.callingName = "Agent";
        return request;
    }
    // Places the call and takes its NEW; the exchange learns the call number.
    Frame Place()
    {
        call = endpoint.PlaceCall(Request());
        EXPECT_GT(call, 0) << endpoint.LastError();
        auto fresh = exchange.ExpectCommand(endpoint, kNew);
        EXPECT_TRUE(fresh);
        exchange.theirs = fresh->source;
        return *fresh;
    }
    void Accept(uint32_t format = kFormatUlaw)
    {
        exchange.Send(endpoint, 6, kAccept, IeNumber(kIeFormat, format, 4));
        auto accepted = exchange.ExpectEvent(endpoint, EventType::Accepted);
        ASSERT_TRUE(accepted);
        EXPECT_EQ(accepted->format, format);
    }
    void Answer()
    {
        Accept();
        exchange.Send(endpoint, 4, kCtrlAnswer);
        ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Answered));
    }
};

TEST_F(Iax2Call, TokenAndMd5ThenVoiceBothWaysAndHangupWithCause)
{
    const Frame first = Place();
    ASSERT_FALSE(first.ies.empty());
    EXPECT_EQ(first.ies[0].first, kIeVersion) << "VERSION comes first";
    EXPECT_EQ(first.Number(kIeVersion), 2u);
    EXPECT_EQ(first.Text(kIeCallToken), "");
    EXPECT_EQ(first.Text(kIeCalledNumber), "100");
    EXPECT_EQ(first.Number(kIeCapability), 0xEu);
    EXPECT_EQ(first.Number(kIeFormat), uint32_t(kFormatUlaw));
    // Element for element the hand-checked NEW of wire_test.cpp, which has the same caller.
    const peer2::Bytes handChecked = {
        0x0b, 0x02, 0x00, 0x02, 0x36, 0x00, 0x01, 0x03, 0x31, 0x30, 0x30, 0x02, 0x04, 0x32,
        0x30, 0x30, 0x31, 0x04, 0x05, 0x41, 0x67, 0x65, 0x6e, 0x74, 0x06, 0x05, 0x61, 0x67,
        0x65, 0x6e, 0x74, 0x26, 0x01, 0x00, 0x27, 0x01, 0x00, 0x28, 0x02, 0x00, 0x00, 0x08,
        0x04, 0x00, 0x00, 0x00, 0x0e, 0x09, 0x04, 0x00, 0x00, 0x00, 0x04};
    EXPECT_EQ(first.data, handChecked);
    EXPECT_EQ(first.oseqno, 0);
    EXPECT_EQ(first.iseqno, 0);

    // The exchange wants a token: its reply comes from call number 0.
    const uint16_t ours = exchange.ours;
    exchange.ours = 0;
    exchange.Send(endpoint, 6, kCallToken, Ie(kIeCallToken, "tok:1234"));
    exchange.ours = ours;
    exchange.oseqno = exchange.iseqno = 0;
    auto again = exchange.ExpectCommand(endpoint, kNew);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Text(kIeCallToken), "tok:1234");
    EXPECT_EQ(again->oseqno, 0);
    EXPECT_EQ(again->source, first.source) << "same call number";
    EXPECT_EQ(again->ies[0].first, kIeVersion);

    exchange.Send(endpoint, 6, kAuthReq,
                  peer2::Join({IeNumber(kIeAuthMethods, kAuthMd5, 2), Ie(kIeChallenge, "214748364"),
                               Ie(kIeUsername, "agent")}));
    auto reply = exchange.ExpectCommand(endpoint, kAuthRep);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Text(kIeMd5Result), "0c5b82d1f207f433199e2c3652d875d7");
    EXPECT_EQ(reply->Ie(kIePassword), nullptr);
    EXPECT_EQ(reply->iseqno, 1);

    Accept();
    auto ack = exchange.ExpectCommand(endpoint, kAck);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->timestamp, exchange.clockMs) << "echoes the ACCEPT's stamp";

    exchange.Send(endpoint, 4, kCtrlRinging);
    ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Ringing));
    // Early media: ring-back before the answer, a full frame then a mini.
    exchange.Send(endpoint, 2, kFormatUlaw, peer2::Bytes(160, 0xFF));
    exchange.SendMini(endpoint, uint16_t(exchange.clockMs + 20), peer2::Bytes(160, 0x7F));
    auto early = exchange.ExpectEvent(endpoint, EventType::Voice);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->samples, 160);
    auto mini = exchange.ExpectEvent(endpoint, EventType::Voice);
    ASSERT_TRUE(mini);
    EXPECT_EQ(mini->payload[0], 0x7F);
    EXPECT_EQ(mini->timestamp, early->timestamp + 20);

    EXPECT_EQ(endpoint.SendVoice(call, kFormatUlaw, peer2::Bytes(160, 1), 160), -1)
        << "not before the answer";
    exchange.Send(endpoint, 4, kCtrlAnswer);
    ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Answered));
    ASSERT_EQ(endpoint.SendVoice(call, kFormatUlaw, peer2::Bytes(160, 1), 160), 0);
    ASSERT_EQ(endpoint.SendVoice(call, kFormatUlaw, peer2::Bytes(160, 2), 160), 0);
    auto fullVoice = exchange.Expect(endpoint, [](const Frame& f) { return f.type == 2; });
    ASSERT_TRUE(fullVoice);
    EXPECT_EQ(fullVoice->subclass, kFormatUlaw);
    auto miniVoice = exchange.Expect(endpoint, [](const Frame& f) { return !f.full; });
    ASSERT_TRUE(miniVoice);
    EXPECT_EQ(miniVoice->data, peer2::Bytes(160, 2));
    EXPECT_EQ(miniVoice->source, first.source);

    ASSERT_EQ(endpoint.SendDtmf(call, '#'), 0);
    auto digit = exchange.Expect(endpoint, [](const Frame& f) { return f.full && f.type == 1; });
    ASSERT_TRUE(digit);
    EXPECT_EQ(digit->subclass, '#');

    exchange.Send(endpoint, 6, kHangup,
                  peer2::Join({Ie(kIeCause, "Normal clearing"), IeNumber(kIeCauseCode, 16, 1)}));
    auto ended = exchange.ExpectEvent(endpoint, EventType::Hangup);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->text, "Normal clearing");
    EXPECT_EQ(ended->causeCode, 16);
    ASSERT_TRUE(exchange.ExpectCommand(endpoint, kAck));
    // The call is gone: a late frame for it is answered with INVAL.
    exchange.Send(endpoint, 4, kCtrlRinging);
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kInval));
}

TEST_F(Iax2Call, NoTokenNoChallenge)
{
    Place();
    Answer();
    EXPECT_EQ(endpoint.Hangup(call, "Gone home", kCauseNormalClearing), 0);
    auto hangup = exchange.ExpectCommand(endpoint, kHangup);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->Text(kIeCause), "Gone home");
    EXPECT_EQ(hangup->Number(kIeCauseCode), 16u);
    exchange.Ack(endpoint, *hangup);
    EXPECT_TRUE(exchange.Quiet(endpoint, 1500)) << "acknowledged: no retransmission";
    EXPECT_EQ(endpoint.NextDueMs(), -1);
}

TEST_F(Iax2Call, AcceptOfACodecNotOfferedEndsTheCall)
{
    CallRequest request = Request();
    request.formats = {kFormatGsm};
    call = endpoint.PlaceCall(request);
    auto fresh = exchange.ExpectCommand(endpoint, kNew);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->Number(kIeCapability), uint32_t(kFormatGsm));
    EXPECT_EQ(fresh->Number(kIeFormat), uint32_t(kFormatGsm));
    exchange.theirs = fresh->source;
    exchange.Send(endpoint, 6, kAccept, IeNumber(kIeFormat, kFormatUlaw, 4));
    auto hangup = exchange.ExpectCommand(endpoint, kHangup);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->Number(kIeCauseCode), 58u);
    auto rejected = exchange.ExpectEvent(endpoint, EventType::Rejected);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->text, "No common codec");
    request.formats = {0x10};
    EXPECT_EQ(endpoint.PlaceCall(request), -1) << "a codec we cannot carry";
}

TEST_F(Iax2Call, Md5RefusedEndsTheCallWithTheCause)
{
    Place();
    exchange.Send(endpoint, 6, kAuthReq,
                  peer2::Join({IeNumber(kIeAuthMethods, kAuthMd5, 2), Ie(kIeChallenge, "42")}));
    auto reply = exchange.ExpectCommand(endpoint, kAuthRep);
    ASSERT_TRUE(reply);
    char expected[33];
    IaxMd5Hex("42", "s3cret", expected);
    EXPECT_EQ(reply->Text(kIeMd5Result), expected);
    exchange.Send(endpoint, 6, kReject, Ie(kIeCause, "Authentication failed"));
    auto rejected = exchange.ExpectEvent(endpoint, EventType::Rejected);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->text, "Authentication failed");
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kAck));
}

TEST_F(Iax2Call, PlaintextOnlyChallengeIsNeverAnsweredInClear)
{
    Place();
    exchange.Send(
        endpoint, 6, kAuthReq,
        peer2::Join({IeNumber(kIeAuthMethods, kAuthPlaintext, 2), Ie(kIeChallenge, "1")}));
    auto hangup = exchange.ExpectCommand(endpoint, kHangup);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->Ie(kIePassword), nullptr);
    EXPECT_TRUE(exchange.ExpectEvent(endpoint, EventType::Rejected));
}

TEST_F(Iax2Call, BusyAndCongestionEndTheCallWithOurHangup)
{
    for (auto [control, type, code] : {std::tuple{kCtrlBusy, EventType::Busy, 17u},
                                       std::tuple{kCtrlCongestion, EventType::Congestion, 42u}}) {
        exchange.oseqno = exchange.iseqno = 0;
        Place();
        Accept();
        exchange.Send(endpoint, 4, control);
        ASSERT_TRUE(exchange.ExpectEvent(endpoint, type));
        auto hangup = exchange.ExpectCommand(endpoint, kHangup);
        ASSERT_TRUE(hangup);
        EXPECT_EQ(hangup->Number(kIeCauseCode), code);
        exchange.Ack(endpoint, *hangup);
    }
}

TEST_F(Iax2Call, FarEndRequestsAreHonouredOrRefused)
{
    Place();
    Answer();
    exchange.Send(endpoint, 6, kTxReq);
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kTxRej));
    exchange.Send(endpoint, 6, 0x7E);
    auto unsupported = exchange.ExpectCommand(endpoint, kUnsupport);
    ASSERT_TRUE(unsupported);
    EXPECT_EQ(unsupported->Number(kIeUnknown), 0x7Eu);
    exchange.Send(endpoint, 4, 0x7D);
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kUnsupport)) << "unknown control subclass";
    exchange.Send(endpoint, 6, kPing);
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kPong));
    exchange.Send(endpoint, 6, kLagRq);
    auto lag = exchange.ExpectCommand(endpoint, kLagRp);
    ASSERT_TRUE(lag);
    EXPECT_EQ(lag->timestamp, exchange.clockMs);
    exchange.Send(endpoint, 7, 0, {'h', 'i'});
    EXPECT_TRUE(exchange.ExpectCommand(endpoint, kAck)) << "text is acknowledged, then ignored";

    exchange.Send(endpoint, 6, kQuelch);
    ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Held));
    ASSERT_EQ(endpoint.SendVoice(call, kFormatUlaw, peer2::Bytes(160, 1), 160), 0);
    EXPECT_TRUE(exchange.Quiet(endpoint, 300)) << "no voice while quelched";
    exchange.Send(endpoint, 6, kUnquelch);
    ASSERT_TRUE(exchange.ExpectEvent(endpoint, EventType::Resumed));
    ASSERT_EQ(endpoint.SendVoice(call, kFormatUlaw, peer2::Bytes(160, 1), 160), 0);
    EXPECT_TRUE(exchange.Expect(endpoint, [](const Frame& f) { return f.full && f.type == 2; }))
        << "voice resumes with a full frame";
}

TEST_F(Iax2Call, StrangersOnTheCallAreIgnored)
{
    Place();
    Answer();
    peer2::ScriptedPeer stranger;
    stranger.ours = exchange.ours;
    stranger.theirs = exchange.theirs;
    stranger.oseqno = exchange.oseqno;
    stranger.iseqno = exchange.iseqno;
    stranger.Send(endpoint, 6, kHangup);
    exchange.ours = 0x1111;  // right address, wrong call number
    exchange.Send(endpoint, 6, kHangup);
    exchange.ours = 0x2B67;
    exchange.oseqno -= 1;
    EXPECT_TRUE(exchange.Quiet(endpoint, 300));
    EXPECT_FALSE(exchange.ExpectEvent(endpoint, EventType::Hangup, 100));
    EXPECT_EQ(endpoint.SendDtmf(call, '1'), 0) << "the call is still up";
}

}  // namespace
