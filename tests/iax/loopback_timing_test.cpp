// The jitter buffer seen from the wire: frames stamped ahead of the
// library's clock wait in the timer list, late voice is dropped, and the
// library's own answers to parked requests leave only when they come out.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackTimingTest : public LoopbackTest {
protected:
    SendOptions Stamped(uint32_t timestampMs)
    {
        SendOptions o;
        o.timestampMs = timestampMs;
        return o;
    }
};

TEST_F(LoopbackTimingTest, EarlyFrameWaitsUntilItsPlayoutTime)
{
    EstablishCall();  // the ACCEPT set both time bases at peer time 0
    Advance(20);
    m_peer.SendFull(kDtmf, '7', {}, Stamped(50));  // 30 ms early
    ExpectNoEvent();
    EXPECT_EQ(IaxNextDueMs(), 30);
    Advance(29);
    ExpectNoEvent();
    Advance(1);
    auto e = ExpectEvent(EvDtmf, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->digit.digit, '7');
}

TEST_F(LoopbackTimingTest, PingStampedEarlyIsAnsweredWhenItLeavesTheBuffer)
{
    EstablishCall();
    Advance(20);
    FullHeader ping = m_peer.SendIax(kPing, "", false, Stamped(60));  // 40 ms early
    ExpectNoEvent();
    EXPECT_TRUE(m_peer.ExpectAckOf(ping)) << "acknowledged at once: " << m_peer.LastError();
    EXPECT_TRUE(m_peer.ExpectSilence(10)) << "PONG before its time: " << m_peer.LastError();
    Advance(40);
    ExpectNoEvent();
    auto pong = m_peer.ExpectIax(kPong);
    ASSERT_TRUE(pong) << m_peer.LastError();
    EXPECT_EQ(pong->timestampMs, 60u);
}

TEST_F(LoopbackTimingTest, LateVoiceIsDroppedButLateSignallingIsDelivered)
{
    EstablishCall();
    Advance(20);
    m_peer.SendVoice(kGsm, GsmFrame(1));  // on time
    ASSERT_TRUE(ExpectEvent(EvVoice));

    Advance(40);
    m_peer.SendMini(GsmFrame(2), 20 + 40 - 4);  // 4 ms late: dropped
    ExpectNoEvent();
    m_peer.SendMini(GsmFrame(3), 20 + 40 - 3);  // 3 ms late: still played
    auto kept = ExpectEvent(EvVoice);
    ASSERT_TRUE(kept);
    EXPECT_EQ(EventBytes(*kept), GsmFrame(3));

    Advance(20);
    m_peer.SendFull(kDtmf, '9', {}, Stamped(20 + 40 + 20 - 10));  // 10 ms late
    auto dtmf = ExpectEvent(EvDtmf);
    ASSERT_TRUE(dtmf);
    EXPECT_EQ(dtmf->digit.digit, '9');
}

TEST_F(LoopbackTimingTest, HangupDestroysParkedEventsOfTheSession)
{
    IaxSession* s = EstablishCall();
    Advance(20);
    m_peer.SendFull(kDtmf, '1', {}, Stamped(500));  // parked for 480 ms
    ExpectNoEvent();
    ASSERT_GT(IaxNextDueMs(), 0);
    int entriesBefore = IaxTimerCount();
    ASSERT_EQ(IaxHangUp(s, "bye"), 0);
    // The HANGUP's check came in, the parked digit went out with the session.
    EXPECT_EQ(IaxTimerCount(), entriesBefore);
    auto hangup = m_peer.ExpectIax(kHangup);
    ASSERT_TRUE(hangup) << m_peer.LastError();
    EXPECT_EQ(hangup->payload, ToBytes("bye"));
    Advance(1000);
    ExpectNoEvent();
}

}  // namespace
}  // namespace loopback
