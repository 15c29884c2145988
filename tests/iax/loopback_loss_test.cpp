// A lossy path seen from the wire: frames the peer sends again because
// their ACK was lost, ACKs that arrive out of order, a HANGUP lost on the
// way, and a server that answers late. All on the fake clock.
#include "tests/iax/loopback_fixture.h"

#include <algorithm>

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackLossTest : public LoopbackTest {
protected:
    // The same frame again, as a peer resends it.
    static SendOptions Again(const FullHeader& sent)
    {
        SendOptions o;
        o.sequence = sent.sequence;
        o.timestampMs = sent.timestampMs;
        return o;
    }

    // ACKs of the frame that have reached the peer so far.
    long AcksOf(const FullHeader& sent)
    {
        m_peer.ExpectSilence(20);
        return std::count_if(m_peer.Acks().begin(), m_peer.Acks().end(), [&](const PeerFrame& a) {
            return a.sequence == sent.sequence && a.timestampMs == sent.timestampMs;
        });
    }
};

TEST_F(LoopbackLossTest, ResentAnswerIsAcknowledgedAgainButHandedOutOnce)
{
    EstablishCall();
    Advance(20);
    FullHeader answer = m_peer.SendControl(kAnswer);
    ASSERT_TRUE(ExpectEvent(EvAnswer));
    Advance(60);
    m_peer.SendFull(kControl, kAnswer, {}, Again(answer));
    ExpectNoEvent();
    EXPECT_EQ(AcksOf(answer), 2);

    // Overtaken frames are new, their resends are not.
    Advance(20);
    SendOptions later;
    later.sequence = static_cast<uint16_t>(answer.sequence + 2);
    FullHeader two = m_peer.SendFull(kDtmf, '2', {}, later);
    SendOptions earlier;
    earlier.sequence = static_cast<uint16_t>(answer.sequence + 1);
    FullHeader one = m_peer.SendFull(kDtmf, '1', {}, earlier);
    auto first = ExpectEvent(EvDtmf);
    auto second = ExpectEvent(EvDtmf);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->digit.digit, '2');
    EXPECT_EQ(second->digit.digit, '1');
    m_peer.SendFull(kDtmf, '1', {}, Again(one));
    m_peer.SendFull(kDtmf, '2', {}, Again(two));
    ExpectNoEvent();
    EXPECT_EQ(AcksOf(one), 2);
    EXPECT_EQ(AcksOf(two), 2);
}

// The server let 1.26 s pass between the NEW and its answer and stamps its
// frames from its own session start: nothing waits for that time (the fake
// clock stands still, so a parked event would never come out).
TEST_F(LoopbackLossTest, SlowAnswerDoesNotDelayTheCall)
{
    m_peer.StartCall();
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial().c_str(), nullptr), 0) << IaxLastError;
    ASSERT_TRUE(m_peer.ExpectIax(kNew)) << m_peer.LastError();
    auto stamped = [](uint32_t ms) {
        SendOptions o;
        o.timestampMs = ms;
        return o;
    };
    m_peer.SendIax(kAccept, "formats=2;", true, stamped(1260));
    ASSERT_TRUE(ExpectEvent(EvAccept));
    Advance(1);
    m_peer.SendFull(kControl, kRinging, {}, stamped(1261));
    ASSERT_TRUE(ExpectEvent(EvRinging));
    Advance(1);
    m_peer.SendFull(kControl, kAnswer, {}, stamped(1262));
    ASSERT_TRUE(ExpectEvent(EvAnswer));
    Advance(20);
    m_peer.SendVoice(kGsm, GsmFrame(1), stamped(1282));
    auto voice = ExpectEvent(EvVoice);
    ASSERT_TRUE(voice);
    EXPECT_EQ(EventBytes(*voice), GsmFrame(1));
}

// The HANGUP's ACK is lost once: the HANGUP comes again, the peer's frames
// meanwhile yield nothing, and the call number stays taken until the ACK.
TEST_F(LoopbackLossTest, LostHangupIsResentUntilAcknowledged)
{
    IaxSession* s = EstablishCall();
    int ownCall = s->callNumber;
    m_peer.SetAutoAck(false);
    ASSERT_EQ(IaxHangUp(s, "done"), 0);
    auto hangup = m_peer.ExpectIax(kHangup);
    ASSERT_TRUE(hangup) << m_peer.LastError();
    EXPECT_EQ(hangup->Text(), "done");

    Advance(20);
    FullHeader dtmf = m_peer.SendFull(kDtmf, '5');  // sent before the peer saw the HANGUP
    ExpectNoEvent();
    EXPECT_TRUE(m_peer.ExpectAckOf(dtmf)) << m_peer.LastError();

    IaxNextCallNumber = ownCall;
    IaxSession* next = IaxNewSession();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next->callNumber, ownCall);
    IaxDestroySession(next);

    Advance(40);  // the first resend check, 60 ms after the HANGUP
    testing::internal::CaptureStdout();
    ExpectNoEvent();
    testing::internal::GetCapturedStdout();
    auto again = m_peer.ExpectIax(kHangup);
    ASSERT_TRUE(again) << m_peer.LastError();
    EXPECT_EQ(again->sequence, hangup->sequence);
    EXPECT_EQ(IaxSessionCount(), 1);

    m_peer.SendAck(*again);
    ExpectNoEvent();
    EXPECT_EQ(IaxSessionCount(), 0);
    for (int i = 0; i < 5; ++i) {
        Advance(10000);
        ExpectNoEvent();
    }
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

}  // namespace
}  // namespace loopback
