// Messages the library answers by itself (PING, LAGRQ) and the ones that
// steer a running call: lag measurement, dial-plan replies, quelching.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackControlTest : public LoopbackTest {};

TEST_F(LoopbackControlTest, PingIsAnsweredWithPongAndNoEvent)
{
    IaxSession* s = EstablishCall();
    Advance(20);
    FullHeader ping = m_peer.SendIax(kPing);
    ExpectNoEvent();
    auto pong = m_peer.ExpectIax(kPong);
    ASSERT_TRUE(pong) << m_peer.LastError();
    EXPECT_EQ(pong->timestampMs, ping.timestampMs);
    EXPECT_EQ(pong->sequence, 0);
    EXPECT_EQ(pong->destCall, m_peer.Call().ownCall);
    EXPECT_TRUE(pong->payload.empty());
    EXPECT_TRUE(m_peer.ExpectAckOf(ping)) << m_peer.LastError();

    // The PONG used up no sequence number: the next frame takes 1 (NEW had 0).
    ASSERT_EQ(IaxSendTouchTone(s, '1'), 0);
    auto dtmf = m_peer.ExpectFull(kDtmf, '1');
    ASSERT_TRUE(dtmf) << m_peer.LastError();
    EXPECT_EQ(dtmf->sequence, 1);
}

TEST_F(LoopbackControlTest, LagRequestIsAnsweredWithLagReplyAndNoEvent)
{
    IaxSession* s = EstablishCall();
    Advance(20);
    FullHeader lagrq = m_peer.SendIax(kLagRq);
    ExpectNoEvent();
    auto lagrp = m_peer.ExpectIax(kLagRp);
    ASSERT_TRUE(lagrp) << m_peer.LastError();
    EXPECT_EQ(lagrp->timestampMs, lagrq.timestampMs);
    EXPECT_EQ(lagrp->sequence, 1) << "a LAGRP takes a sequence number";

    ASSERT_EQ(IaxSendTouchTone(s, '2'), 0);
    auto dtmf = m_peer.ExpectFull(kDtmf, '2');
    ASSERT_TRUE(dtmf) << m_peer.LastError();
    EXPECT_EQ(dtmf->sequence, 2);
}

TEST_F(LoopbackControlTest, OwnLagRequestMeasuresTheRoundTrip)
{
    IaxSession* s = EstablishCall();
    Advance(20);  // past the NEW's time stamp, so the LAGRQ carries real time
    ASSERT_EQ(IaxLag(s), 0);
    auto lagrq = m_peer.ExpectIax(kLagRq);
    ASSERT_TRUE(lagrq) << m_peer.LastError();
    Advance(40);
    SendOptions echo;
    echo.timestampMs = lagrq->timestampMs;
    m_peer.SendIax(kLagRp, "", false, echo);
    auto e = ExpectEvent(EvLagReply);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->lag.lag, 40);
    EXPECT_GE(e->lag.jitter, 0);
}

TEST_F(LoopbackControlTest, DialPlanRequestAndReply)
{
    IaxSession* s = EstablishCall();
    ASSERT_EQ(IaxDialPlanRequest(s, "100"), 0);
    auto dpreq = m_peer.ExpectIax(kDpReq);
    ASSERT_TRUE(dpreq) << m_peer.LastError();
    EXPECT_EQ(dpreq->payload, ToBytes("100"));

    struct Case {
        const char* text;
        int exists, canExist, nonExistent, ignorePattern, expiry;
    } cases[] = {
        {"number=100;status=exists;ignorepat=yes;expirey=300;", 1, 0, 0, 1, 300},
        {"number=100;status=canexist;ignorepat=no;", 0, 1, 0, 0, 0},
        {"number=100;status=nonexistant;expirey=-5;", 0, 0, 1, 0, 0},
        {"number=100;status=maybe;", 0, 0, 0, 0, 0},
    };
    testing::internal::CaptureStdout();
    for (const Case& c : cases) {
        Advance(20);
        m_peer.SendIax(kDpRep, c.text);
        auto e = ExpectEvent(EvDialPlanReply);
        ASSERT_TRUE(e) << c.text;
        ASSERT_NE(e->dpReply.number, nullptr);
        EXPECT_STREQ(e->dpReply.number, "100");
        EXPECT_EQ(e->dpReply.exists, c.exists) << c.text;
        EXPECT_EQ(e->dpReply.canExist, c.canExist) << c.text;
        EXPECT_EQ(e->dpReply.nonExistent, c.nonExistent) << c.text;
        EXPECT_EQ(e->dpReply.ignorePattern, c.ignorePattern) << c.text;
        EXPECT_EQ(e->dpReply.expiry, c.expiry) << c.text;
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Got dialplan reply: number=100;status=exists;"), std::string::npos) << out;
}

TEST_F(LoopbackControlTest, DialSendsTheNumberAsPlainText)
{
    IaxSession* s = EstablishCall();
    ASSERT_EQ(IaxDial(s, "555"), 0);
    auto dial = m_peer.ExpectIax(kDial);
    ASSERT_TRUE(dial) << m_peer.LastError();
    EXPECT_EQ(dial->payload, ToBytes("555"));
}

TEST_F(LoopbackControlTest, QuelchStopsOurVoiceUntilUnquelch)
{
    IaxSession* s = EstablishCall();
    Bytes frame = GsmFrame(4);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    ASSERT_TRUE(m_peer.ExpectVoice()) << m_peer.LastError();

    Advance(20);
    m_peer.SendIax(kQuelch);
    EXPECT_TRUE(ExpectEvent(EvQuelch));
    for (int i = 0; i < 5; ++i) {
        Advance(20);
        EXPECT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    }
    EXPECT_TRUE(m_peer.ExpectSilence(30)) << "voice sent while quelched: " << m_peer.LastError();

    Advance(20);
    m_peer.SendIax(kUnquelch);
    EXPECT_TRUE(ExpectEvent(EvUnquelch));
    Advance(20);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    auto resumed = m_peer.ExpectVoice();
    ASSERT_TRUE(resumed) << m_peer.LastError();
    EXPECT_EQ(resumed->payload, frame);
}

TEST_F(LoopbackControlTest, OwnQuelchAndUnquelchGoOnTheWire)
{
    IaxSession* s = EstablishCall();
    ASSERT_EQ(IaxQuelch(s), 0);
    auto q = m_peer.ExpectIax(kQuelch);
    ASSERT_TRUE(q) << m_peer.LastError();
    ASSERT_EQ(IaxUnquelch(s), 0);
    auto u = m_peer.ExpectIax(kUnquelch);
    ASSERT_TRUE(u) << m_peer.LastError();
    EXPECT_EQ(u->sequence, q->sequence + 1);
    EXPECT_TRUE(q->payload.empty() && u->payload.empty());
}

TEST_F(LoopbackControlTest, TextUrlAndImageFramesBothWays)
{
    IaxSession* s = EstablishCall();
    ASSERT_EQ(IaxSendText(s, "hello"), 0);
    auto text = m_peer.ExpectFull(kText, 7);
    ASSERT_TRUE(text) << m_peer.LastError();
    EXPECT_EQ(text->payload, ToBytes("hello", true));
    ASSERT_EQ(IaxSendUrl(s, "http://x/", 1), 0);
    auto url = m_peer.ExpectFull(kHtml, kHtmlLinkUrl);
    ASSERT_TRUE(url) << m_peer.LastError();
    EXPECT_EQ(url->payload, ToBytes("http://x/", true));

    Advance(20);
    m_peer.SendFull(kText, 7, ToBytes("hi there", true));
    auto e = ExpectEvent(EvText);
    ASSERT_TRUE(e);
    EXPECT_STREQ(e->text.text, "hi there");
    Advance(20);
    m_peer.SendFull(kHtml, kHtmlUrl, ToBytes("http://y/", true));
    auto u = ExpectEvent(EvUrl);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->url.link, 0);
    ASSERT_NE(u->url.url, nullptr);
    EXPECT_STREQ(u->url.url, "http://y/");
    Advance(20);
    m_peer.SendFull(kImage, 1u << 16, Bytes{1, 2, 3});
    auto img = ExpectEvent(EvImage);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->media.format, 1 << 16);
    EXPECT_EQ(EventBytes(*img), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace loopback

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackLimitsTest : public LoopbackTest {};

// A text longer than the event's inline 8191 characters is cut, both ways,
// instead of overrunning the record.
TEST_F(LoopbackLimitsTest, OversizedTextsAreCutToTheEventPayload)
{
    IaxSession* s = EstablishCall();
    std::string longText(10000, 'x');
    ASSERT_EQ(IaxSendText(s, longText.c_str()), 0);
    auto out = m_peer.ExpectFull(kText, 7);
    ASSERT_TRUE(out) << m_peer.LastError();
    EXPECT_EQ(out->payload, ToBytes(std::string(8191, 'x'), true));

    Advance(20);
    m_peer.SendFull(kText, 7, ToBytes(longText, true));
    auto e = ExpectEvent(EvText);
    ASSERT_TRUE(e);
    EXPECT_EQ(std::string(e->text.text), std::string(8191, 'x'));
}

TEST_F(LoopbackLimitsTest, VoiceBeyondThePayloadCapacityIsRefused)
{
    IaxSession* s = EstablishCall();
    Bytes big(32757, 0xD0);
    EXPECT_EQ(IaxSendVoice(s, kGsm, big.data(), static_cast<int>(big.size())), -1);
    EXPECT_STREQ(IaxLastError, "Voice frame too large\n");
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
    Bytes largest(32756, 0xD0);
    ASSERT_EQ(IaxSendVoice(s, kGsm, largest.data(), static_cast<int>(largest.size())), 0);
    auto f = m_peer.ExpectVoice();
    ASSERT_TRUE(f) << m_peer.LastError();
    EXPECT_EQ(f->datagramBytes, 32768u);
}

}  // namespace
}  // namespace loopback
