// Resending of unacknowledged full frames, on the fake clock only: time
// passes when the test advances it and calls IaxNextEvent.
#include "tests/iax/loopback_fixture.h"

#include <vector>

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackRetransmitTest : public LoopbackTest {};

TEST_F(LoopbackRetransmitTest, NeverAcknowledgedNewIsSentElevenTimesThenTimesOut)
{
    m_peer.SetAutoAck(false);
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial().c_str(), nullptr), 0);
    auto original = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(original) << m_peer.LastError();

    testing::internal::CaptureStdout();
    std::vector<int> waitsMs;
    for (int i = 0; i < 10; ++i) {
        int due = IaxNextDueMs();
        waitsMs.push_back(due);
        ASSERT_GT(due, 0);
        Advance(static_cast<uint32_t>(due - 1));
        ExpectNoEvent();
        EXPECT_TRUE(m_peer.ExpectSilence(0)) << "resent early: " << m_peer.LastError();
        Advance(1);
        ExpectNoEvent();
        auto again = m_peer.ExpectIax(kNew);
        ASSERT_TRUE(again) << "retransmission " << i + 1 << ": " << m_peer.LastError();
        EXPECT_EQ(again->sequence, original->sequence);
        EXPECT_EQ(again->timestampMs, original->timestampMs);
        EXPECT_EQ(again->payload, original->payload);
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(waitsMs,
              (std::vector<int>{60, 240, 960, 3840, 10000, 10000, 10000, 10000, 10000, 10000}));
    std::string expected;
    for (int left = 9; left >= 0; --left)
        expected += "Scheduling retransmission " + std::to_string(left) + "\n";
    EXPECT_EQ(out, expected);

    Advance(static_cast<uint32_t>(IaxNextDueMs()));
    auto e = ExpectEvent(EvTimeout, 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    EXPECT_TRUE(IaxSessionIsLive(s)) << "a time-out leaves the session to the user";
    EXPECT_EQ(IaxNextDueMs(), -1);
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << "an eleventh resend: " << m_peer.LastError();
    Advance(100000);
    ExpectNoEvent();
}

TEST_F(LoopbackRetransmitTest, AcknowledgedFrameIsFreedAtItsCheckUnsent)
{
    m_peer.SetAutoAck(false);
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, PeerDial().c_str(), nullptr), 0);
    auto f = m_peer.ExpectIax(kNew);
    ASSERT_TRUE(f) << m_peer.LastError();
    m_peer.SendAck(*f);
    ExpectNoEvent();
    Advance(60);
    ExpectNoEvent();
    EXPECT_EQ(IaxNextDueMs(), -1);
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

// Under loss ACKs overtake each other: an ACK ahead of the one expected
// still releases the frame it names.
TEST_F(LoopbackRetransmitTest, AckAheadOfOrderReleasesItsFrame)
{
    IaxSession* s = EstablishCall();  // NEW (seq 0) acknowledged
    m_peer.SetAutoAck(false);
    ASSERT_EQ(IaxSendTouchTone(s, '1'), 0);  // seq 1
    ASSERT_EQ(IaxSendTouchTone(s, '2'), 0);  // seq 2
    auto one = m_peer.ExpectFull(kDtmf, '1');
    auto two = m_peer.ExpectFull(kDtmf, '2');
    ASSERT_TRUE(one && two) << m_peer.LastError();

    m_peer.SendAck(*two);  // ahead of the expected 1
    ExpectNoEvent();
    Advance(60);
    ExpectNoEvent();
    EXPECT_TRUE(m_peer.ExpectFull(kDtmf, '1', 100)) << m_peer.LastError();
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << "'2' resent after its ACK: " << m_peer.LastError();

    m_peer.SendAck(*one);
    ExpectNoEvent();
    Advance(240);
    ExpectNoEvent();
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

TEST_F(LoopbackRetransmitTest, NothingDueAndNothingWaitingReturnsAtOnce)
{
    EXPECT_EQ(IaxNextDueMs(), -1);
    EXPECT_EQ(IaxNextEvent(0), nullptr);
}

}  // namespace
}  // namespace loopback
