// Call figures: the statistics model on its own, then the engine's figures
// against the scripted peer, with loss, arrival jitter and a lag exchange
// the test injects on a library clock it moves by hand.
#include "engine/call_stats.h"

#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"

#include "iax/iax.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitAck;
using test::AwaitIax;
using test::DialStringFor;
using test::FakePhone;
using test::PumpBriefly;
using test::PumpUntil;

// After n updates with the same |D|, the estimator stands at |D| (1 - (15/16)^n).
double SettledJitter(double transitChangeMs, int updates)
{
    return transitChangeMs * (1 - std::pow(15.0 / 16.0, updates));
}

TEST(CallStats, GapsCountAsLossStragglersFillThemAndWrapsAreNotGaps)
{
    CallStats stats;
    stats.Start();
    for (uint32_t ts : {0u, 20u, 40u, 100u, 120u})  // 60 and 80 missing
        stats.FrameArrived(kGsmFormat, 1, ts, 1000 + ts);
    EXPECT_EQ(stats.Figures(0).framesLost, 2u);
    stats.FrameArrived(kGsmFormat, 1, 60, 1200);  // late, not lost after all
    EXPECT_EQ(stats.Figures(0).framesLost, 1u);
    stats.FrameArrived(kGsmFormat, 3, 140, 1140);  // three frames in one message
    stats.FrameArrived(kGsmFormat, 1, 200, 1200);
    EXPECT_EQ(stats.Figures(0).framesLost, 1u);
    stats.FrameArrived(kGsmFormat, 1, 223, 1223);  // stamps that wobble lose nothing
    stats.FrameArrived(kGsmFormat, 1, 238, 1238);
    EXPECT_EQ(stats.Figures(0).framesLost, 1u);
    // A mini frame's rebuilt stamp that wrapped its lower 16 bits.
    stats.Start();
    stats.FrameArrived(kGsmFormat, 1, 0x1FFEC, 0);
    stats.FrameArrived(kGsmFormat, 1, 0x10000, 20);
    const CallFigures figures = stats.Figures(0);
    EXPECT_EQ(figures.framesLost, 0u);
    EXPECT_EQ(figures.framesReceived, 2u);
    EXPECT_NEAR(figures.jitterMs, 0, 1e-9);
}

TEST(CallStats, DurationRunsWhileConnectedAndStaysAfterTheEnd)
{
    CallStats stats;
    EXPECT_FALSE(stats.Figures(0).started);
    stats.Start();
    stats.Connected(1000);
    EXPECT_EQ(stats.Figures(63500).durationMs, 62500);
    stats.Ended(64000);
    stats.FrameSent(kGsmFormat);
    CallFigures figures = stats.Figures(99000);
    EXPECT_FALSE(figures.connected);
    EXPECT_EQ(figures.durationMs, 63000);
    figures.roundTripMs = 24;
    figures.bufferDelayMs = 40;
    figures.framesReceived = 7;
    EXPECT_EQ(FiguresLine(figures),
              "duration 1:03, format GSM, sent 1, received 7, lost 0, "
              "jitter 0.0 ms, round trip 24 ms, buffer 40 ms");
    EXPECT_EQ(FormatDuration(3723000), "1:02:03");
}

uint32_t g_ticks = 50000;
uint32_t HandTicks()
{
    return g_ticks;
}

class EngineFigures : public testing::Test {
protected:
    void SetUp() override
    {
        IaxSetTickSource(HandTicks);
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
        fp.phone->SetLagIntervalMs(50);
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        peer.SendIax(kAccept, "formats=2;", true);
        ASSERT_TRUE(PumpUntil([&] { return fp.phone->Figures().connected; }));
    }
    void TearDown() override { IaxSetTickSource(nullptr); }

    // One voice frame stamped ts that arrives offsetMs later than its stamp says.
    void SendAt(uint32_t ts, uint32_t offsetMs)
    {
        g_ticks = 50000 + ts + offsetMs;
        SendOptions stamped;
        stamped.timestampMs = ts;
        FullHeader sent = peer.SendVoice(kGsmFormat, test::GsmFramesOfTone(500, 1), stamped);
        ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
        PumpBriefly();
    }

    IaxTestPeer peer;
    FakePhone fp;
};

TEST_F(EngineFigures, LossJitterAndRoundTripFromTheWire)
{
    int sent = 0;
    for (uint32_t index = 0; index < 20; ++index) {
        if (index == 5 || index == 6 || index == 12)
            continue;  // lost on the way
        SendAt(index * 20, sent++ % 2 ? 8 : 0);
    }
    CallFigures figures = fp.phone->Figures();
    EXPECT_EQ(figures.framesReceived, 17u);
    EXPECT_EQ(figures.framesLost, 3u);
    EXPECT_NEAR(figures.jitterMs, SettledJitter(8, sent - 1), 0.01);
    EXPECT_EQ(figures.voiceFormat, kGsmFormat);
    EXPECT_GE(figures.bufferDelayMs, 0);
    EXPECT_EQ(figures.roundTripMs, -1);

    auto request = AwaitIax(peer, kLagRq);
    ASSERT_TRUE(request) << peer.LastError();
    g_ticks += 37;
    SendOptions echoed;
    echoed.timestampMs = request->timestampMs;
    peer.SendIax(kLagRp, "", false, echoed);
    ASSERT_TRUE(PumpUntil([&] { return fp.phone->Figures().roundTripMs >= 0; }));
    EXPECT_EQ(fp.phone->Figures().roundTripMs, 37);

    fp.phone->HangUp();
    figures = fp.phone->Figures();
    EXPECT_FALSE(figures.connected);
    EXPECT_EQ(figures.framesLost, 3u);
}

}  // namespace
}  // namespace velnar
