// Playout of received voice on a clock the test moves.
#include "iax2/jitter.h"

#include <gtest/gtest.h>

#include "iax2/codes.h"

namespace iax2 {
namespace {

// Rows: time stamp, arrival (ms), accepted; then what pops at which time.
TEST(Iax2Jitter, PlaysInStampOrderAfterItsDelay)
{
    JitterBuffer jitter(40);
    struct Row {
        uint32_t stamp;
        uint64_t arrival;
        bool accepted;
    };
    const Row rows[] = {
        {100, 1000, true}, {140, 1010, true}, {120, 1015, true}, {120, 1016, false}};
    for (const Row& row : rows)
        EXPECT_EQ(jitter.Put({row.stamp, kFormatUlaw, {}}, row.arrival), row.accepted) << row.stamp;
    VoiceFrame out;
    EXPECT_FALSE(jitter.Pop(1039, &out));
    EXPECT_EQ(jitter.NextDueMs(), 1040u);
    const std::pair<uint64_t, uint32_t> pops[] = {{1040, 100}, {1060, 120}, {1080, 140}};
    for (auto [at, stamp] : pops) {
        ASSERT_TRUE(jitter.Pop(at, &out));
        EXPECT_EQ(out.timestamp, stamp);
    }
    EXPECT_FALSE(jitter.Put({130, kFormatUlaw, {}}, 1085)) << "its turn has passed";
    EXPECT_TRUE(jitter.Put({160, kFormatUlaw, {}}, 1200)) << "late but still in order";
    ASSERT_TRUE(jitter.Pop(1200, &out));
    EXPECT_TRUE(jitter.Put({90000, kFormatUlaw, {}}, 1220)) << "the far clock jumped";
    EXPECT_EQ(jitter.NextDueMs(), 1260u) << "played after the delay, not after the jump";
}

}  // namespace
}  // namespace iax2
