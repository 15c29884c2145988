// The hold on its own, on a simulated clock: a queue that ran dry while it
// played keeps one block more for a while before it gives back again.
#include "engine/delay_hold.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

using namespace std::chrono_literals;

class DelayHoldTest : public testing::Test {
protected:
    // Silent blocks arriving every 20 ms at one depth; the blocks given back.
    uint64_t Arrive(int pendingBlocks, std::chrono::milliseconds length)
    {
        const uint64_t before = hold.GivenBack();
        for (auto end = now + length; now < end; now += 20ms)
            hold.TakeBack(pendingBlocks, 0);
        return hold.GivenBack() - before;
    }

    std::chrono::steady_clock::time_point now{};
    DelayHold hold{[this] { return now; }, 1};
};

TEST_F(DelayHoldTest, RunningDryKeepsOneBlockMoreForAWhile)
{
    EXPECT_EQ(Arrive(2, 6s), 1u) << "one block over the target";
    hold.RanDry();
    EXPECT_EQ(Arrive(2, 30s), 0u) << "the cushion is one block deeper now";
    EXPECT_EQ(Arrive(3, 9s), 1u) << "one block over the deeper target";
    EXPECT_EQ(Arrive(2, DelayHold::kDeeperAfterDry - 40s), 0u);
    EXPECT_EQ(Arrive(2, 6s), 1u) << "back to the target a minute after";
}

TEST_F(DelayHoldTest, ANewCallIsNotARunDry)
{
    hold.Forget();
    hold.RanDry();  // the first block of the call finds the queue empty
    EXPECT_EQ(Arrive(2, 6s), 1u);
}

}  // namespace
}  // namespace velnar
