#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::EventPtr;
using iaxunit::Frame;
using iaxunit::IaxUnitTest;

enum Outcome { Delivered, Parked, Dropped };

struct Row {
    int type;
    uint32_t timestamp;
    uint32_t arrivalMs;  // since the first row
    Outcome expected;
    int jitterBufferAfter;
};

class JitterBufferTest : public IaxUnitTest {
protected:
    void SetUp() override
    {
        IaxUnitTest::SetUp();
        session = IaxNewSession();
        start = fakeMs;
    }

    Outcome Deliver(int type, uint32_t timestamp, uint32_t arrivalMs)
    {
        fakeMs = start + arrivalMs;
        IaxEvent* event = IaxNewEvent();
        event->type = type;
        event->session = session;
        int parkedBefore = IaxTimerCount();
        EventPtr out(IaxJitterDeliver(event, timestamp));
        if (out) {
            EXPECT_EQ(out.get(), event);
            return Delivered;
        }
        return IaxTimerCount() > parkedBefore ? Parked : Dropped;
    }

    void RunTable(const std::vector<Row>& rows)
    {
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            EXPECT_EQ(Deliver(row.type, row.timestamp, row.arrivalMs), row.expected) << "row " << i;
            EXPECT_EQ(session->jitterBuffer, row.jitterBufferAfter) << "row " << i;
        }
    }

    IaxSession* session = nullptr;
    uint32_t start = 0;
};

TEST_F(JitterBufferTest, FreshSessionDeliversFirstEventAndDropsOnlyLateVoice)
{
    RunTable({
        {EvVoice, 0, 0, Delivered, 0},     // delay 0 sets the time base
        {EvVoice, 15, 20, Dropped, 0},     // delay 5, target still 0: wait -5
        {EvDtmf, 15, 20, Delivered, 0},    // as late, but not voice
        {EvVoice, 37, 40, Delivered, 0},   // wait -3: within the tolerance
        {EvHangup, 10, 20, Delivered, 3},  // fourth delay above 0: target 3, wait -7
        {EvVoice, 70, 60, Parked, 3},      // delay -10: wait 13
    });
    EXPECT_EQ(IaxNextDueMs(), 13);
}

TEST_F(JitterBufferTest, BufferGrowsToTheFourthLargestDelayAtOnce)
{
    RunTable({
        {EvDtmf, 0, 0, Delivered, 0},
        {EvDtmf, 0, 20, Delivered, 0},  // three peaks of 20 are discarded
        {EvDtmf, 20, 40, Delivered, 0},
        {EvDtmf, 40, 60, Delivered, 0},
        {EvVoice, 60, 80, Delivered, 20},  // the fourth: target 20, wait 0
        {EvVoice, 100, 100, Parked, 20},   // delay 0: held 20 ms
        {EvVoice, 120, 150, Dropped, 20},  // delay 30: 10 ms late
    });
    EXPECT_EQ(session->jitter, 20);
}

TEST_F(JitterBufferTest, BufferShrinksTwoMsPerEventOnceThePeaksHaveLeft)
{
    Deliver(EvDtmf, 0, 0);  // sets the time base
    uint32_t arrival = 0;
    for (int i = 0; i < 4; ++i, arrival += 20)
        Deliver(EvDtmf, arrival - 100, arrival);  // delay 100
    ASSERT_EQ(session->jitterBuffer, 100);
    // The first peak leaves the 100-entry history with the 97th zero delay.
    for (int i = 0; i < 100; ++i, arrival += 20)
        Deliver(EvDtmf, arrival, arrival);
    EXPECT_EQ(session->jitterBuffer, 92);
    EXPECT_EQ(session->jitter, 0);
}

// A peer that answers late stamps its first frame with the time it let
// pass: the first timed event sets the time base so that its own delay is
// 0, and later events are timed from there.
TEST_F(JitterBufferTest, FirstTimedEventSetsTheTimeBaseToItsOwnStamp)
{
    RunTable({
        {EvAccept, 1260, 0, Delivered, 0},  // delay 0, not -1260
        {EvRinging, 1261, 1, Delivered, 0},
        {EvVoice, 1300, 20, Parked, 0},     // 20 ms early
        {EvVoice, 1320, 60, Delivered, 0},  // on time
    });
    const int32_t* newest = session->delayHistory + IaxDelayHistoryLength - 3;
    EXPECT_EQ(newest[0], 0);
    EXPECT_EQ(newest[1], -20);
    EXPECT_EQ(newest[2], 0);
}

TEST_F(JitterBufferTest, TimeBaseComputedAsZeroStaysSet)
{
    uint32_t now = fakeMs;  // the clock reads exactly the first stamp: base 0
    Deliver(EvDtmf, now, 0);
    ASSERT_EQ(session->rxTimeBase.seconds, 0);
    ASSERT_EQ(session->rxTimeBase.microseconds, 0);
    Deliver(EvDtmf, now + 20, 40);
    EXPECT_EQ(session->delayHistory[IaxDelayHistoryLength - 1], 20);
}

TEST_F(JitterBufferTest, TargetIsHeldWithinTheMaximumSpread)
{
    Deliver(EvDtmf, 0, 0);
    uint32_t arrival = 20;
    for (int i = 0; i < 4; ++i, arrival += 20)
        Deliver(EvDtmf, arrival - 5000, arrival);
    EXPECT_EQ(session->jitterBuffer, 4000);  // smallest delay 0 plus 4000
    EXPECT_EQ(session->jitter, 5000);
}

TEST_F(JitterBufferTest, WildTimestampsNeitherOverflowNorParkForLong)
{
    const uint32_t stamps[] = {0x80000000u, 0x7FFFFFFFu, 0u, 0xFFFFFFFFu, 0x80000001u, 12345u};
    for (int round = 0; round < 20; ++round)
        for (uint32_t stamp : stamps)
            Deliver(EvDtmf, stamp, static_cast<uint32_t>(round * 7));
    int due = IaxNextDueMs();
    EXPECT_LE(due, 4000);
}

TEST_F(JitterBufferTest, ParkedEventComesOutOfNextEventWhenDue)
{
    ASSERT_EQ(Deliver(EvDtmf, 0, 0), Delivered);
    ASSERT_EQ(Deliver(EvDtmf, 50, 20), Parked);  // 30 ms early
    EXPECT_EQ(EventPtr(IaxNextEvent(0)), nullptr);
    Advance(29);
    EXPECT_EQ(EventPtr(IaxNextEvent(0)), nullptr);
    Advance(1);
    EventPtr event(IaxNextEvent(0));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->type, EvDtmf);
}

// The target as defined: four passes over the history in index order, each
// keeping the first entry strictly above the best so far among entries that
// no earlier pass chose.
int32_t FourPassTarget(const int32_t* history)
{
    bool chosen[IaxDelayHistoryLength] = {};
    int32_t best = -99999999;
    for (int pass = 0; pass < 4; ++pass) {
        best = -99999999;
        int index = -1;
        for (int i = 0; i < IaxDelayHistoryLength; ++i)
            if (!chosen[i] && history[i] > best)
                best = history[i], index = i;
        if (index >= 0)
            chosen[index] = true;
    }
    return best;
}

TEST_F(JitterBufferTest, SpreadMatchesTheFourPassDefinition)
{
    unsigned seed = static_cast<unsigned>(time(nullptr));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    Deliver(EvDtmf, 0, 0);
    for (int round = 0; round < 500; ++round) {
        int spread = round % 3 == 0 ? 5 : round % 3 == 1 ? 1000 : 400000000;
        for (int32_t& delay : session->delayHistory)
            delay = static_cast<int32_t>(random() % (2 * spread + 1)) - spread;
        int32_t next = static_cast<int32_t>(random() % 200) - 100;
        Deliver(EvDtmf, static_cast<uint32_t>(-next), 0);  // arrival 0: delay == next
        ASSERT_EQ(session->delayHistory[IaxDelayHistoryLength - 1], next);
        int32_t smallest = session->delayHistory[0];
        for (int32_t delay : session->delayHistory)
            smallest = delay < smallest ? delay : smallest;
        int64_t expected = int64_t(FourPassTarget(session->delayHistory)) - smallest;
        ASSERT_EQ(session->jitter, expected) << "round " << round;
    }
}

class MiniFrameTimestampTest : public IaxUnitTest {};

TEST_F(MiniFrameTimestampTest, WrappedLowerHalfIsCorrectedByTheDelayWindow)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    uint32_t start = fakeMs;
    EventPtr first(Inject(Frame(9, own, 0, 0, FT_DTMF, '1')));
    ASSERT_NE(first, nullptr);
    uint32_t stamp = 2 * 65536 + 65536 - 16;
    fakeMs = start + stamp;
    EventPtr voice(Inject(Frame(9, own, stamp, 1, FT_VOICE, 2, "abc")));
    ASSERT_NE(voice, nullptr);
    Advance(20);
    // The mini frame's time stamp 1 is rebuilt with the old upper half: one
    // wrap (65536 ms) too early; the delay window brings it back to 3.
    Bytes mini = {0, 9, 0, 1, 'x', 'y'};
    EventPtr miniVoice(Inject(mini));
    ASSERT_NE(miniVoice, nullptr);
    EXPECT_EQ(miniVoice->media.format, 2);
    ASSERT_EQ(miniVoice->media.length, 2);
    EXPECT_EQ(miniVoice->media.data[1], 'y');
    EXPECT_EQ(session->delayHistory[IaxDelayHistoryLength - 1], 3);
}

}  // namespace
