// A call placed by the library, run through every step over real UDP.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackCallTest : public LoopbackTest {};

TEST_F(LoopbackCallTest, NewCarriesEveryElementOfTheDialStringButThePassword)
{
    IaxSession* s = IaxNewSession();
    std::string dial = "alice:sesame@" + PeerDial("/100@default");
    ASSERT_EQ(IaxPlaceCall(s, "Alice", dial.c_str(), "en"), 0) << IaxLastError;

    auto f = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(f) << m_peer.LastError();
    EXPECT_EQ(f->destCall, kUnknownCall);
    EXPECT_GE(f->sourceCall, 1);
    EXPECT_EQ(f->sequence, 0);
    EXPECT_GE(f->timestampMs, 1u);
    auto elements = SplitElements(std::string(f->payload.begin(), f->payload.end()));
    ASSERT_TRUE(elements) << "payload is not a plain run of elements: " << f->Text();
    Elements expected = {{"exten", "100"},       {"callerid", "Alice"}, {"dnid", "100"},
                         {"context", "default"}, {"username", "alice"}, {"language", "en"},
                         {"formats", "2"},       {"version", "1"}};
    EXPECT_EQ(*elements, expected);
    EXPECT_EQ(f->Text().find("sesame"), std::string::npos);
    EXPECT_EQ(f->payload.back(), ';') << "the NEW counts no NUL";
}

TEST_F(LoopbackCallTest, BareHostDialsDefaultElementsOnly)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial("").c_str(), nullptr), 0) << IaxLastError;
    auto f = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(f) << m_peer.LastError();
    EXPECT_EQ(f->Text(), "formats=2;version=1;");
}

TEST_F(LoopbackCallTest, UnresolvableHostSendsNothing)
{
    IaxSession* s = IaxNewSession();
    EXPECT_EQ(IaxPlaceCall(s, nullptr, "no-such-host.invalid/100", nullptr), -1);
    EXPECT_STREQ(IaxLastError, "Invalid hostname: no-such-host.invalid");
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

TEST_F(LoopbackCallTest, AcceptRingingAnswerBecomeEventsAndAreAcknowledged)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial().c_str(), nullptr), 0);
    auto newFrame = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(newFrame) << m_peer.LastError();

    FullHeader accept = m_peer.SendIax(kAccept, "formats=2;", true);
    auto e = ExpectEvent(EvAccept);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    auto ack = m_peer.ExpectAckOf(accept);
    ASSERT_TRUE(ack) << m_peer.LastError();
    EXPECT_EQ(ack->sourceCall, newFrame->sourceCall);
    EXPECT_EQ(ack->destCall, m_peer.Call().ownCall);
    EXPECT_EQ(ack->datagramBytes, 12u);
    EXPECT_TRUE(ack->payload.empty());

    Advance(20);
    FullHeader ringing = m_peer.SendControl(kRinging);
    EXPECT_TRUE(ExpectEvent(EvRinging));
    EXPECT_TRUE(m_peer.ExpectAckOf(ringing)) << m_peer.LastError();
    Advance(20);
    m_peer.SendControl(kAnswer);
    EXPECT_TRUE(ExpectEvent(EvAnswer));
    Advance(20);
    m_peer.SendControl(kCongestion);
    EXPECT_TRUE(ExpectEvent(EvBusy));
}

TEST_F(LoopbackCallTest, VoiceGoesOutAsOneFullFrameThenMiniFrames)
{
    IaxSession* s = EstablishCall();
    uint16_t callNumber = m_peer.Call().remoteCall;

    Bytes first = GsmFrame(1);
    ASSERT_EQ(IaxSendVoice(s, kGsm, first.data(), kGsmFrameBytes), 0);
    auto full = m_peer.ExpectVoice();
    ASSERT_TRUE(full) << m_peer.LastError();
    EXPECT_TRUE(full->Is(kVoice, kGsm));
    EXPECT_EQ(full->subclassByte, kGsm);
    EXPECT_EQ(full->destCall, m_peer.Call().ownCall);
    EXPECT_EQ(full->payload, first);

    for (uint8_t i = 2; i < 6; ++i) {
        Advance(20);
        Bytes frame = GsmFrame(i);
        ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
        auto mini = m_peer.ExpectVoice();
        ASSERT_TRUE(mini) << m_peer.LastError();
        EXPECT_FALSE(mini->full);
        EXPECT_EQ(mini->datagramBytes, 4u + kGsmFrameBytes);
        EXPECT_EQ(mini->sourceCall, callNumber);
        // The fake clock stood still from the NEW to the first voice frame, so
        // the session's time stamps count 20 ms per frame from that instant.
        EXPECT_EQ(mini->timestampMs, 20u * (i - 1));
        EXPECT_EQ(mini->payload, frame);
    }
}

TEST_F(LoopbackCallTest, VoiceCrossingA65536MsBoundaryGoesOutFullAgain)
{
    IaxSession* s = EstablishCall();
    Bytes frame = GsmFrame(3);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    auto first = m_peer.ExpectVoice();
    ASSERT_TRUE(first && first->full) << m_peer.LastError();
    Advance(65536);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    auto again = m_peer.ExpectVoice();
    ASSERT_TRUE(again) << m_peer.LastError();
    EXPECT_TRUE(again->full);
    EXPECT_EQ(again->sequence, first->sequence + 1);
}

TEST_F(LoopbackCallTest, VoiceFromThePeerFullThenMiniBecomesVoiceEvents)
{
    IaxSession* s = EstablishCall();
    Advance(20);
    Bytes first = GsmFrame(7);
    FullHeader h = m_peer.SendVoice(kGsm, first);
    auto e = ExpectEvent(EvVoice);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    EXPECT_EQ(e->media.format, kGsm);
    EXPECT_EQ(EventBytes(*e), first);
    EXPECT_TRUE(m_peer.ExpectAckOf(h)) << m_peer.LastError();

    for (uint8_t i = 8; i < 12; ++i) {
        Advance(20);
        Bytes frame = GsmFrame(i);
        m_peer.SendMini(frame);
        auto mini = ExpectEvent(EvVoice);
        ASSERT_TRUE(mini);
        EXPECT_EQ(mini->media.format, kGsm);
        EXPECT_EQ(EventBytes(*mini), frame);
    }
    EXPECT_EQ(m_peer.Acks().size(), 2u) << "mini frames are never acknowledged";
}

TEST_F(LoopbackCallTest, MiniFrameBeforeAnyFullVoiceYieldsNothing)
{
    EstablishCall();
    Advance(20);
    m_peer.SendMini(GsmFrame(1));
    ExpectNoEvent();
}

TEST_F(LoopbackCallTest, TouchTonesBothWays)
{
    IaxSession* s = EstablishCall();
    for (char digit : std::string("0123456789*#")) {
        ASSERT_EQ(IaxSendTouchTone(s, digit), 0);
        auto f = m_peer.ExpectFull(kDtmf, static_cast<uint32_t>(digit));
        ASSERT_TRUE(f) << m_peer.LastError();
        EXPECT_TRUE(f->payload.empty());
    }
    Advance(20);
    m_peer.SendFull(kDtmf, '#');
    auto e = ExpectEvent(EvDtmf);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->digit.digit, '#');
}

TEST_F(LoopbackCallTest, SequenceNumbersCountFullFramesOnly)
{
    IaxSession* s = EstablishCall();  // NEW took 0
    Bytes frame = GsmFrame(1);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);  // full: 1
    Advance(20);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);  // mini: none
    ASSERT_EQ(IaxSendTouchTone(s, '1'), 0);                             // 2
    auto voice = m_peer.ExpectVoice();
    auto dtmf = m_peer.ExpectFull(kDtmf, '1');
    ASSERT_TRUE(voice && dtmf) << m_peer.LastError();
    EXPECT_EQ(voice->sequence, 1);
    EXPECT_EQ(dtmf->sequence, 2);
    EXPECT_GT(dtmf->timestampMs, voice->timestampMs);
}

// A HANGUP to a peer whose call number is known is resent until it is
// acknowledged: here it never is, and it is given up without an event.
TEST_F(LoopbackCallTest, HangUpEndsTheSessionAndIsResentUntilGivenUp)
{
    IaxSession* s = EstablishCall();
    m_peer.SetAutoAck(false);  // every HANGUP lost on the way back
    ASSERT_EQ(IaxHangUp(s, ""), 0);
    EXPECT_FALSE(IaxSessionIsLive(s));
    auto f = m_peer.ExpectIax(kHangup);
    ASSERT_TRUE(f) << m_peer.LastError();
    EXPECT_EQ(f->datagramBytes, 12u);
    Bytes frame = GsmFrame(1);
    EXPECT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), -1);
    EXPECT_STREQ(IaxLastError, "Invalid session for transmitting event");

    int resends = 0;
    testing::internal::CaptureStdout();
    for (int due = IaxNextDueMs(), guard = 0; due >= 0 && guard < 100;
         due = IaxNextDueMs(), ++guard) {
        Advance(static_cast<uint32_t>(due));
        ExpectNoEvent();
        while (auto again = m_peer.ExpectIax(kHangup, 20)) {
            EXPECT_EQ(again->sequence, f->sequence);
            EXPECT_EQ(again->timestampMs, f->timestampMs);
            ++resends;
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(resends, 10);
    EXPECT_EQ(IaxSessionCount(), 0);
}

TEST_F(LoopbackCallTest, HangupFromThePeerCarriesItsReasonAndEndsTheSession)
{
    IaxSession* s = EstablishCall();
    Advance(20);
    FullHeader h = m_peer.SendIax(kHangup, "Normal clearing");
    auto e = ExpectEvent(EvHangup);
    ASSERT_TRUE(e);
    ASSERT_NE(e->reason.text, nullptr);
    EXPECT_STREQ(e->reason.text, "Normal clearing");
    EXPECT_FALSE(IaxSessionIsLive(s));
    EXPECT_TRUE(m_peer.ExpectAckOf(h)) << m_peer.LastError();

    // The session is gone: a later frame for it matches nothing.
    Advance(20);
    m_peer.SendControl(kRinging);
    ExpectNoEvent();
}

TEST_F(LoopbackCallTest, RejectAndInvalAreNotAcknowledged)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial().c_str(), nullptr), 0);
    ASSERT_TRUE(m_peer.ExpectIax(kNew)) << m_peer.LastError();
    m_peer.SendIax(kReject, "");
    auto e = ExpectEvent(EvReject);
    ASSERT_TRUE(e);
    ASSERT_NE(e->reason.text, nullptr) << "an empty REJECT still has a text";
    EXPECT_STREQ(e->reason.text, "");
    EXPECT_FALSE(IaxSessionIsLive(s));
    EXPECT_TRUE(m_peer.Acks().empty()) << "REJECT must not be acknowledged";

    IaxSession* t = EstablishCall();
    m_peer.Drain();
    size_t acksBefore = m_peer.Acks().size();
    Advance(20);
    m_peer.SendIax(kInval);
    auto hangup = ExpectEvent(EvHangup);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->reason.text, nullptr);
    EXPECT_FALSE(IaxSessionIsLive(t));
    m_peer.Drain();
    EXPECT_EQ(m_peer.Acks().size(), acksBefore) << "INVAL must not be acknowledged";
}

TEST_F(LoopbackCallTest, UnknownTypesAreAcknowledgedAndDropped)
{
    EstablishCall();
    Advance(20);
    FullHeader type3 = m_peer.SendFull(3, 0);
    FullHeader pong = m_peer.SendIax(kPong);
    FullHeader code17 = m_peer.SendIax(17);
    FullHeader type12 = m_peer.SendFull(12, 1);
    ExpectNoEvent();
    for (const FullHeader& h : {type3, pong, code17, type12})
        EXPECT_TRUE(m_peer.ExpectAckOf(h))
            << "type " << int(h.type) << " sub " << int(h.subclassByte);
}

}  // namespace
}  // namespace loopback

namespace loopback {
namespace {

using namespace iaxpeer;

// Two calls to the same server address are told apart by call numbers only.
TEST_F(LoopbackTest, TwoCallsToOnePeerAreToldApartByCallNumber)
{
    IaxSession* first = EstablishCall();
    uint16_t firstOurs = m_peer.Call().remoteCall;

    // The peer's automatic ACK would answer from the first call's number.
    m_peer.SetAutoAck(false);
    IaxSession* second = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(second, nullptr, PeerDial().c_str(), nullptr), 0);
    auto newFrame = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(newFrame) << m_peer.LastError();
    uint16_t secondOurs = newFrame->sourceCall;
    ASSERT_NE(secondOurs, firstOurs);
    const uint16_t secondTheirs = 4321;
    SendOptions ack;
    ack.sourceCall = secondTheirs;
    ack.destCall = secondOurs;
    ack.timestampMs = newFrame->timestampMs;
    ack.sequence = newFrame->sequence;
    m_peer.SendIax(kAck, "", false, ack);
    SendOptions toSecond;
    toSecond.sourceCall = secondTheirs;
    toSecond.destCall = secondOurs;
    toSecond.sequence = 0;
    m_peer.SendIax(kAccept, "formats=2;", true, toSecond);
    auto accepted = ExpectEvent(EvAccept);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->session, second);

    Advance(20);
    toSecond.sequence = 1;
    m_peer.SendFull(kDtmf, '2', {}, toSecond);
    m_peer.SendFull(kDtmf, '1');  // the first call's numbers
    auto two = ExpectEvent(EvDtmf);
    auto one = ExpectEvent(EvDtmf);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(two->session, second);
    EXPECT_EQ(two->digit.digit, '2');
    EXPECT_EQ(one->session, first);
    EXPECT_EQ(one->digit.digit, '1');

    ASSERT_EQ(IaxSendTouchTone(second, '#'), 0);
    auto out = m_peer.ExpectFull(kDtmf, '#');
    ASSERT_TRUE(out) << m_peer.LastError();
    EXPECT_EQ(out->sourceCall, secondOurs);
    EXPECT_EQ(out->destCall, secondTheirs);
}

}  // namespace
}  // namespace loopback
