// Playout of received voice on a clock the test moves.
#include "iax2/jitter.h"

#include <gtest/gtest.h>

#include "iax2/codes.h"

namespace iax2 {
namespace {

VoiceFrame Frame(uint32_t stamp)
{
    return {stamp, kFormatUlaw, {}, 20};
}

// Frames in sequence go at once; after a gap the next one waits the delay
// for the missing one, and goes with it when it comes.
TEST(Iax2Jitter, InSequenceAtOnceAfterAGapUntilTheMissingFrameOrTheDelay)
{
    JitterBuffer jitter(40);
    VoiceFrame out;
    ASSERT_TRUE(jitter.Put(Frame(100), 1000));
    ASSERT_TRUE(jitter.Pop(1000, &out)) << "the first frame is not held";
    EXPECT_TRUE(jitter.Put(Frame(140), 1010)) << "120 is missing";
    EXPECT_FALSE(jitter.Pop(1010, &out));
    EXPECT_EQ(jitter.NextDueMs(), 1050u) << "early: the delay from its arrival";
    EXPECT_TRUE(jitter.Put(Frame(120), 1015));
    EXPECT_FALSE(jitter.Put(Frame(120), 1016)) << "a repeat";
    for (uint32_t stamp : {120u, 140u}) {
        ASSERT_TRUE(jitter.Pop(1015, &out));
        EXPECT_EQ(out.timestamp, stamp);
    }
    // 160 is lost for good: 180 waits the delay from its arrival at most.
    ASSERT_TRUE(jitter.Put(Frame(180), 1057));
    EXPECT_FALSE(jitter.Pop(1096, &out));
    ASSERT_TRUE(jitter.Pop(1097, &out));
    EXPECT_EQ(out.timestamp, 180u);
    EXPECT_FALSE(jitter.Put(Frame(160), 1100)) << "its turn has passed";
    EXPECT_TRUE(jitter.Put(Frame(200), 1300)) << "late but in sequence";
    EXPECT_EQ(jitter.NextDueMs(), 0u);
    ASSERT_TRUE(jitter.Pop(1300, &out));
    EXPECT_TRUE(jitter.Put(Frame(90000), 1320)) << "the far clock jumped";
    EXPECT_EQ(jitter.NextDueMs(), 1360u) << "played after the delay, not after the jump";
}

// A sender whose clock runs 1 % fast never builds up a hold: in-sequence
// frames go as they come, and a gap is bridged within the delay.
TEST(Iax2Jitter, DriftingSenderAddsNoDelay)
{
    JitterBuffer jitter(40);
    VoiceFrame out;
    uint64_t arrival = 0;
    for (uint32_t frame = 0; frame < 3000; ++frame) {
        arrival = 1000 + frame * 198 / 10;
        if (frame % 100 == 50)
            continue;  // lost
        ASSERT_TRUE(jitter.Put(Frame(frame * 20), arrival));
        const uint64_t due = jitter.NextDueMs();
        EXPECT_LE(due, arrival + 40) << frame;
        ASSERT_TRUE(jitter.Pop(std::max(due, arrival), &out)) << frame;
    }
}

}  // namespace
}  // namespace iax2
