// The hold on its own, on a simulated clock: what it watches after the
// queue ran dry or a call began.
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

// A pre-fill after a run-dry starts from a device that has played out: what
// was watched before counts no more, and the target stays where it was.
TEST_F(DelayHoldTest, RunningDryStartsTheWatchAfreshAtTheSameTarget)
{
    EXPECT_EQ(Arrive(2, 4s), 0u);
    hold.RanDry();
    EXPECT_EQ(Arrive(2, 4s), 0u) << "the seconds before the run-dry do not count";
    EXPECT_EQ(Arrive(2, 2s), 1u) << "one block over the target";
    EXPECT_EQ(Arrive(2, 6s), 1u) << "no deeper cushion after the run-dry";
}

TEST_F(DelayHoldTest, ANewCallIsNotARunDry)
{
    hold.Forget();
    hold.RanDry();  // the first block of the call finds the queue empty
    EXPECT_EQ(Arrive(2, 6s), 1u);
}

}  // namespace
}  // namespace velnar
