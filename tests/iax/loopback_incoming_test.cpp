// Calls offered to the library by the peer.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackIncomingTest : public LoopbackTest {
protected:
    void SetUp() override
    {
        LoopbackTest::SetUp();
        m_peer.SetTarget(static_cast<uint16_t>(m_libraryPort));
        m_peer.StartCall(77);
    }
};

TEST_F(LoopbackIncomingTest, NewCreatesASessionAndAnEventWithEveryElement)
{
    FullHeader h =
        m_peer.SendIax(kNew,
                       "callerid=Bob;dnid=200;exten=100;context=default;username=bob;language=fr;"
                       "formats=2;version=1;");
    auto e = ExpectEvent(EvNewCall);
    ASSERT_TRUE(e);
    ASSERT_NE(e->session, nullptr);
    EXPECT_TRUE(IaxSessionIsLive(e->session));
    auto text = [](const char* p) { return p ? std::string(p) : std::string("(null)"); };
    EXPECT_EQ(text(e->call.callerId), "Bob");
    EXPECT_EQ(text(e->call.dnid), "200");
    EXPECT_EQ(text(e->call.exten), "100");
    EXPECT_EQ(text(e->call.context), "default");
    EXPECT_EQ(text(e->call.username), "bob");
    EXPECT_EQ(text(e->call.language), "fr");
    EXPECT_EQ(text(e->call.host), "127.0.0.1");
    EXPECT_EQ(e->call.secret, nullptr);
    EXPECT_EQ(e->call.formats, 2);
    EXPECT_EQ(e->call.version, 1);

    auto ack = m_peer.ExpectAckOf(h);
    ASSERT_TRUE(ack) << m_peer.LastError();
    EXPECT_EQ(ack->destCall, 77);
    uint16_t ourCall = ack->sourceCall;
    EXPECT_GE(ourCall, 1);

    ASSERT_EQ(IaxAcceptCall(e->session), 0);
    auto accept = m_peer.ExpectIax(kAccept);
    ASSERT_TRUE(accept) << m_peer.LastError();
    EXPECT_EQ(accept->destCall, 77);
    EXPECT_EQ(accept->sourceCall, ourCall);
    EXPECT_EQ(accept->payload, ToBytes("formats=2;", true)) << "11 bytes with a counted NUL";
    ASSERT_EQ(IaxSendRinging(e->session), 0);
    auto ringing = m_peer.ExpectFull(kControl, kRinging);
    ASSERT_TRUE(ringing) << m_peer.LastError();
    EXPECT_EQ(ringing->sequence, accept->sequence + 1);
}

TEST_F(LoopbackIncomingTest, SparseNewLeavesAbsentTextsNull)
{
    m_peer.SendIax(kNew, "callerid=A;exten=100;formats=2;");
    auto e = ExpectEvent(EvNewCall);
    ASSERT_TRUE(e);
    ASSERT_NE(e->call.callerId, nullptr);
    EXPECT_STREQ(e->call.callerId, "A");
    EXPECT_EQ(e->call.dnid, nullptr);
    EXPECT_EQ(e->call.context, nullptr);
    EXPECT_EQ(e->call.username, nullptr);
    EXPECT_EQ(e->call.language, nullptr);
    EXPECT_EQ(e->call.version, 0);
}

TEST_F(LoopbackIncomingTest, CallerHangsUpAndLaterFramesMatchNothing)
{
    m_peer.SendIax(kNew, "exten=100;formats=2;version=1;");
    auto e = ExpectEvent(EvNewCall);
    ASSERT_TRUE(e);
    IaxSession* s = e->session;
    ASSERT_EQ(IaxRejectCall(s, "Too many calls, we're busy!"), 0);
    EXPECT_FALSE(IaxSessionIsLive(s));
    auto reject = m_peer.ExpectIax(kReject);
    ASSERT_TRUE(reject) << m_peer.LastError();
    EXPECT_EQ(reject->payload, ToBytes("Too many calls, we're busy!"));

    m_peer.Drain();
    size_t acks = m_peer.Acks().size();
    Advance(20);
    m_peer.SendIax(kHangup, "bye");
    ExpectNoEvent();
    m_peer.Drain();
    EXPECT_EQ(m_peer.Acks().size(), acks) << "a frame that matches no session is not acknowledged";
}

TEST_F(LoopbackIncomingTest, FrameWithAKnownDestinationFromAStrangerIsDropped)
{
    SendOptions known;
    known.destCall = 1234;
    m_peer.SendIax(kNew, "exten=100;", false, known);
    ExpectNoEvent();
    m_peer.Drain();
    EXPECT_TRUE(m_peer.Acks().empty());
}

TEST_F(LoopbackIncomingTest, ShortDatagramsAreReportedAndDropped)
{
    m_peer.SendRaw(Bytes(11, 0x80));
    ExpectNoEvent();
    EXPECT_STREQ(IaxLastError, "Short header received from 127.0.0.1\n");
    IaxLastError[0] = 0;
    m_peer.SendRaw(Bytes{0x00, 0x01, 0x02});
    ExpectNoEvent();
    EXPECT_STREQ(IaxLastError, "Short header received from 127.0.0.1\n");
}

}  // namespace
}  // namespace loopback

namespace loopback {
namespace {

using namespace iaxpeer;

TEST_F(LoopbackTest, BusyAnswerToAnIncomingCallEndsItsSession)
{
    m_peer.SetTarget(static_cast<uint16_t>(m_libraryPort));
    m_peer.SendIax(kNew, "exten=100;formats=2;version=1;");
    auto e = ExpectEvent(EvNewCall);
    ASSERT_TRUE(e);
    ASSERT_EQ(IaxSendBusy(e->session), 0);
    EXPECT_FALSE(IaxSessionIsLive(e->session));
    auto busy = m_peer.ExpectFull(kControl, kBusy);
    ASSERT_TRUE(busy) << m_peer.LastError();
    EXPECT_TRUE(busy->payload.empty());
}

}  // namespace
}  // namespace loopback
