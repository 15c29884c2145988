// A call moved from the server to a second peer: TXREQ from the server,
// TXCNT and TXACC with the new peer, TXREADY back to the server, TXREL.
#include "tests/iax/loopback_fixture.h"

#include <vector>

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackTransferTest : public LoopbackTest {
protected:
    void SetUp() override
    {
        LoopbackTest::SetUp();
        ASSERT_TRUE(m_newPeer.Ok());
        m_newPeer.SetClock(FakeTicks);
        m_newPeer.SetTarget(static_cast<uint16_t>(m_libraryPort));
        m_newPeer.StartCall(kNewPeerCall);
    }

    std::string TransferRequest() const
    {
        return "remip=127.0.0.1;remport=" + std::to_string(m_newPeer.Port()) +
               ";remcall=" + std::to_string(kNewPeerCall) + ";";
    }

    static constexpr uint16_t kNewPeerCall = 2222;
    IaxTestPeer m_newPeer;
};

TEST_F(LoopbackTransferTest, FullTransferMovesTheCallToTheNewPeer)
{
    IaxSession* s = EstablishCall();
    uint16_t ourCall = m_peer.Call().remoteCall;
    m_newPeer.Call().remoteCall = ourCall;

    Advance(20);
    m_peer.SendIax(kTxReq, TransferRequest());
    ExpectNoEvent();
    auto txcnt = m_newPeer.ExpectIax(kTxCnt);
    ASSERT_TRUE(txcnt) << m_newPeer.LastError();
    EXPECT_EQ(txcnt->sourceCall, ourCall);
    EXPECT_EQ(txcnt->destCall, kNewPeerCall);
    EXPECT_EQ(txcnt->sequence, 0);

    // The new peer probes us too; we answer once, never acknowledging the probe.
    m_newPeer.SendIax(kTxCnt);
    ExpectNoEvent();
    auto txacc = m_newPeer.ExpectIax(kTxAcc);
    ASSERT_TRUE(txacc) << m_newPeer.LastError();
    EXPECT_EQ(txacc->destCall, kNewPeerCall);
    EXPECT_EQ(txacc->sequence, 0);
    EXPECT_TRUE(m_newPeer.Acks().empty());

    // Its answer to our probe: we tell the server we are ready.
    m_newPeer.SendIax(kTxAcc);
    ExpectNoEvent();
    auto ready = m_peer.ExpectIax(kTxReady);
    ASSERT_TRUE(ready) << m_peer.LastError();
    EXPECT_EQ(ready->destCall, m_peer.Call().ownCall);
    EXPECT_TRUE(m_newPeer.Acks().empty());

    // Our probe was answered: it is not sent again. (The server's ACK of the
    // TXREADY is let in first: due resends go before the socket is read.)
    ExpectNoEvent();
    Advance(1000);
    ExpectNoEvent();
    EXPECT_TRUE(m_newPeer.ExpectSilence(20)) << m_newPeer.LastError();

    Advance(20);
    testing::internal::CaptureStdout();
    FullHeader rel = m_peer.SendIax(kTxRel, "peercallno=" + std::to_string(kNewPeerCall) + ";");
    auto e = ExpectEvent(EvTransferred);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    ASSERT_NE(e->transfer.address, nullptr);
    EXPECT_STREQ(e->transfer.address, "127.0.0.1");
    EXPECT_EQ(e->transfer.port, m_newPeer.Port());
    EXPECT_NE(out.find("Release: text is peercallno="), std::string::npos) << out;
    EXPECT_TRUE(m_peer.ExpectAckOf(rel)) << "TXREL is acknowledged to the old peer";

    // Voice now goes to the new peer, from a fresh start: full frame, sequence 0.
    Bytes frame = GsmFrame(5);
    ASSERT_EQ(IaxSendVoice(s, kGsm, frame.data(), kGsmFrameBytes), 0);
    auto voice = m_newPeer.ExpectVoice();
    ASSERT_TRUE(voice) << m_newPeer.LastError();
    EXPECT_TRUE(voice->full);
    EXPECT_EQ(voice->sequence, 0);
    EXPECT_EQ(voice->timestampMs, 1u) << "time stamps restart from a fresh base";
    EXPECT_EQ(voice->destCall, kNewPeerCall);
    EXPECT_EQ(voice->payload, frame);
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << "nothing more to the old peer: " << m_peer.LastError();

    // The new peer's voice: mini frames wait for its first full voice frame.
    // The library timed nothing from the new peer yet; its clock starts here.
    m_newPeer.Call().timeBaseSet = false;
    m_newPeer.SetAutoAck(true);
    m_newPeer.SendMini(GsmFrame(6));
    ExpectNoEvent();
    m_newPeer.SendVoice(kGsm, GsmFrame(7));
    auto in = ExpectEvent(EvVoice);
    ASSERT_TRUE(in);
    EXPECT_EQ(EventBytes(*in), GsmFrame(7));
}

TEST_F(LoopbackTransferTest, UnansweredProbeEndsInTransferReject)
{
    EstablishCall();
    m_newPeer.Call().remoteCall = m_peer.Call().remoteCall;
    Advance(20);
    m_peer.SendIax(kTxReq, TransferRequest());
    ExpectNoEvent();
    ASSERT_TRUE(m_newPeer.ExpectIax(kTxCnt)) << m_newPeer.LastError();

    // Resends are at most a second apart; after ten, the probe gives up.
    int resends = 0;
    for (int due = IaxNextDueMs(); due >= 0 && resends < 20; due = IaxNextDueMs()) {
        EXPECT_LE(due, 1000);
        Advance(static_cast<uint32_t>(due));
        ExpectNoEvent();
        if (m_newPeer.ExpectIax(kTxCnt, 20))
            ++resends;
        if (m_peer.ExpectIax(kTxRej, 0))
            break;
    }
    EXPECT_EQ(resends, 10);
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

TEST_F(LoopbackTransferTest, MalformedTransferRequestsStartNothing)
{
    EstablishCall();
    std::string port = std::to_string(m_newPeer.Port());
    for (const std::string& text : std::vector<std::string>{
             "remip=127.0.0;remport=" + port + ";remcall=2;", "remport=" + port + ";remcall=2;",
             "remip=127.0.0.1;remcall=2;", "remip=127.0.0.1;remport=" + port + ";"}) {
        Advance(20);
        FullHeader h = m_peer.SendIax(kTxReq, text);
        ExpectNoEvent();
        EXPECT_TRUE(m_peer.ExpectAckOf(h)) << text;
    }
    EXPECT_TRUE(m_newPeer.ExpectSilence(20)) << m_newPeer.LastError();

    // With no transfer under way, probes from the would-be peer are ignored.
    m_newPeer.Call().remoteCall = m_peer.Call().remoteCall;
    m_newPeer.SendIax(kTxCnt);
    ExpectNoEvent();
    EXPECT_TRUE(m_newPeer.ExpectSilence(20)) << m_newPeer.LastError();
}

}  // namespace
}  // namespace loopback
