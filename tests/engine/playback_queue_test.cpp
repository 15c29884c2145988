// The playback queue on the in-memory wave-out device: the pre-fill pause,
// reclaiming played blocks, the 13-block bound, a device that refuses
// blocks, and one that swallows them after its sound server went away.
#include "engine/playback_queue.h"

#include "platform/doubles/fake_wave_device.h"
#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include <vector>

namespace velnar {
namespace {

// Fills the queue as the engine does: a block that does not fit is dropped,
// a refused block ends the run.
void QueueTone(PlaybackQueue& queue, double frequencyHz, size_t blocks)
{
    for (size_t i = 0; i < blocks; ++i) {
        std::vector<uint8_t> pcm =
            test::TonePcm(frequencyHz, kGsmFrameSamples, 8000, i * kGsmFrameSamples);
        if (!queue.HasRoom())
            continue;
        if (!queue.Queue(pcm.data(), queue.Pending()))
            return;
    }
}

class PlaybackQueueTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(device.Open(), WaveOk); }
    void Play(size_t blocks) { QueueTone(queue, 500, blocks); }
    size_t Written() const { return device.Written().size(); }

    FakeWaveOut device;
    PlaybackQueue queue{&device};
};

TEST_F(PlaybackQueueTest, FirstBlockPausesAndTheFourthResumes)
{
    Play(1);
    EXPECT_TRUE(device.IsPaused());
    EXPECT_TRUE(queue.IsPaused());
    Play(2);
    EXPECT_TRUE(device.IsPaused());
    EXPECT_EQ(device.PlayAll(), 0u) << "nothing plays during the pre-fill";
    Play(1);
    EXPECT_FALSE(device.IsPaused());
    EXPECT_FALSE(queue.IsPaused());
    EXPECT_EQ(Written(), 4u);
    EXPECT_EQ(device.PlayAll(), 4u);
}

TEST_F(PlaybackQueueTest, QueueRunDryPausesAgainAndPlayedBlocksAreReclaimed)
{
    Play(4);
    device.PlayAll();
    EXPECT_EQ(queue.Size(), 4u);
    EXPECT_EQ(queue.Pending(), 0);
    queue.Reclaim();
    EXPECT_EQ(queue.Size(), 0u);
    Play(1);
    EXPECT_TRUE(device.IsPaused());
}

TEST_F(PlaybackQueueTest, BlocksLeftPausedByAnEndedCallPlayFirstInTheNextOne)
{
    Play(2);
    QueueTone(queue, 1200, 2);
    EXPECT_FALSE(device.IsPaused());
    ASSERT_EQ(device.PlayAll(), 4u);
    std::vector<uint8_t> first(device.Written()[1]), last(device.Written()[3]);
    EXPECT_EQ(test::StrongestOf(first, {500, 1200}), 500);
    EXPECT_EQ(test::StrongestOf(last, {500, 1200}), 1200);
}

TEST_F(PlaybackQueueTest, FourteenthUnplayedFrameIsDropped)
{
    Play(20);
    EXPECT_EQ(Written(), 13u);
    EXPECT_EQ(queue.Size(), 13u);
    EXPECT_FALSE(queue.HasRoom());
    device.PlayN(2);
    queue.Reclaim();
    Play(5);  // two places were freed by playing
    EXPECT_EQ(Written(), 15u);
    EXPECT_EQ(queue.Size(), 13u);
}

TEST_F(PlaybackQueueTest, DeviceThatVanishesDropsFramesWithoutGrowing)
{
    Play(2);
    device.results.addBuffer = WaveErrDevice;  // writes fail from now on
    Play(30);
    EXPECT_EQ(Written(), 2u);
    EXPECT_EQ(queue.Size(), 2u);
    device.results.prepare = WaveErrDevice;
    Play(30);
    EXPECT_EQ(queue.Size(), 2u);
}

// The start of a call after one that ended during the pre-fill: nothing is
// left over, and device and queue are both not paused.
TEST_F(PlaybackQueueTest, RestartStartsUnpausedWithNothingLeftOver)
{
    Play(2);
    ASSERT_TRUE(device.IsPaused());
    queue.Restart();
    EXPECT_FALSE(device.IsPaused());
    EXPECT_FALSE(queue.IsPaused());
    EXPECT_EQ(device.PendingCount(), 0u);
    EXPECT_EQ(queue.Size(), 0u);
    Play(1);
    EXPECT_TRUE(device.IsPaused());
    EXPECT_TRUE(queue.IsPaused());
}

// A device whose sound server went away: it still takes blocks, and gives
// them back at once as done, even while paused.
class SwallowingWaveOut final : public WaveOut {
public:
    int Open() override { return inner.Open(); }
    int Prepare(WaveHeader* header) override { return inner.Prepare(header); }
    int Unprepare(WaveHeader* header) override { return inner.Unprepare(header); }
    int Write(WaveHeader* header) override
    {
        const int rc = inner.Write(header);
        if (rc == WaveOk && swallow)
            inner.Reset();  // marks what it holds done, and stays paused
        return rc;
    }
    int Pause() override { return inner.Pause(); }
    int Restart() override
    {
        ++restarts;
        return inner.Restart();
    }
    int Reset() override
    {
        ++resets;
        return inner.Reset();
    }
    int Close() override { return inner.Close(); }

    FakeWaveOut inner;
    bool swallow = false;
    int resets = 0;    // asked for by the queue
    int restarts = 0;  // asked for by the queue
};

class SwallowedPlayback : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(device.Open(), WaveOk); }

    SwallowingWaveOut device;
    PlaybackQueue queue{&device};
};

TEST_F(SwallowedPlayback, SwallowedBlockRestartsTheDeviceAtMostOnceASecond)
{
    device.swallow = true;
    QueueTone(queue, 500, 1);
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.restarts, 1);
    EXPECT_FALSE(queue.IsPaused());
    EXPECT_FALSE(device.inner.IsPaused());
    // Right after a retry the next swallowed block leaves the device paused.
    queue.Reclaim();
    QueueTone(queue, 500, 1);
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.restarts, 1);
    EXPECT_TRUE(queue.IsPaused());
    EXPECT_EQ(queue.Size(), 1u);
}

// The fourth block restarts the paused device anyway; that it was swallowed
// is seen before, so the failed device is still opened again.
TEST_F(SwallowedPlayback, FourthBlockSwallowedIsRetriedToo)
{
    QueueTone(queue, 500, 3);
    ASSERT_TRUE(queue.IsPaused());
    ASSERT_EQ(device.restarts, 0);
    device.swallow = true;
    QueueTone(queue, 500, 1);
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.restarts, 2);
    EXPECT_FALSE(queue.IsPaused());
}

TEST_F(SwallowedPlayback, BlocksPlayedByARunningDeviceAreNotSwallowed)
{
    QueueTone(queue, 500, 4);
    ASSERT_FALSE(device.inner.IsPaused());
    device.swallow = true;  // a running device may finish a block at once
    QueueTone(queue, 500, 1);
    EXPECT_EQ(device.resets, 0);
    EXPECT_EQ(device.restarts, 1);
}

TEST(PlaybackQueueWithoutDevice, RefusesBlocks)
{
    PlaybackQueue queue(nullptr);
    std::vector<uint8_t> pcm(kPcmFrameBytes);
    EXPECT_FALSE(queue.Queue(pcm.data(), 0));
    EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace velnar
