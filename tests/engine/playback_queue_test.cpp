// The playback queue on the in-memory wave-out device: the pre-fill pause,
// reclaiming played blocks, the 13-block bound, a device that refuses
// blocks, one that swallows them after its sound server went away, and the
// hold of the delay against a sender whose clock runs fast or slow.
#include "engine/playback_queue.h"

#include "platform/doubles/fake_wave_device.h"
#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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

TEST_F(PlaybackQueueTest, NoRunDryWhileTheDeviceStillPlaysOutWhatItTook)
{
    Play(4);
    device.PlayAll();
    device.playingOut = true;
    Play(1);
    EXPECT_FALSE(device.IsPaused()) << "the block follows the sound still playing";
    EXPECT_EQ(device.PlayAll(), 1u);
    device.playingOut = false;
    Play(1);
    EXPECT_TRUE(device.IsPaused()) << "played out and empty: the pre-fill as ever";
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

// ---- Holding the delay of continuous speech ------------------------------
// A sender and a player of 20-ms blocks on one simulated clock, the sender's
// clock off by `senderPpm`: the queue sees each block arrive, the in-memory
// device plays one block per player period.

using SimTime = std::chrono::steady_clock::time_point;

struct DriftRun {
    int minDepth = 1000, maxDepth = 0;  // after each arrival, once settled
    size_t refused = 0;                 // blocks that found no room
    size_t pauses = 0;                  // at the start, then each time it ran dry
    std::vector<int> resumeDepths;      // pending blocks when play resumed
    uint64_t givenBack = 0;
};

// Speech-like levels: a 300-Hz tone whose loudness rises and falls twice a
// second, so that quiet blocks come along often.
std::vector<uint8_t> SpeechBlock(size_t index)
{
    const double envelope = 0.55 + 0.45 * std::sin(double(index) * 0.25);
    return test::TonePcm(300, kGsmFrameSamples, 8000 * envelope, index * kGsmFrameSamples);
}

DriftRun RunDrift(double senderPpm, std::chrono::seconds length)
{
    FakeWaveOut device;
    EXPECT_EQ(device.Open(), WaveOk);
    SimTime now{};
    PlaybackQueue queue(&device, [&now] { return now; });
    const double playerUs = 20000, senderUs = 20000 / (1 + senderPpm * 1e-6);
    const double endUs = double(std::chrono::microseconds(length).count());
    const double settledUs = 30e6;
    double nextSendUs = 0, nextPlayUs = playerUs / 2;
    DriftRun run;
    for (size_t sent = 0; nextSendUs < endUs;) {
        if (nextPlayUs < nextSendUs) {
            device.PlayN(1);
            nextPlayUs += playerUs;
            continue;
        }
        now = SimTime(std::chrono::microseconds(int64_t(nextSendUs)));
        nextSendUs += senderUs;
        queue.Reclaim();
        const bool wasPaused = queue.IsPaused();
        if (!queue.HasRoom()) {
            ++run.refused;
            continue;
        }
        const std::vector<uint8_t> pcm = SpeechBlock(sent++);
        EXPECT_TRUE(queue.Queue(pcm.data(), queue.Pending()));
        if (!wasPaused && queue.IsPaused())
            ++run.pauses;
        if (wasPaused && !queue.IsPaused())
            run.resumeDepths.push_back(queue.Pending());
        if (now.time_since_epoch() >= std::chrono::microseconds(int64_t(settledUs)) &&
            !queue.IsPaused()) {
            run.minDepth = std::min(run.minDepth, queue.Pending());
            run.maxDepth = std::max(run.maxDepth, queue.Pending());
        }
    }
    run.givenBack = queue.GivenBackBlocks();
    return run;
}

// The depth the hold keeps after each arrival on a device that takes
// nothing ahead: the pre-fill's four blocks less the two it finds lasting.
constexpr int kHeldDepth = 2;

TEST(PlaybackQueueHold, SenderFasterThanPlayerStaysWithinOneBlockOfTarget)
{
    const DriftRun run = RunDrift(+500, std::chrono::minutes(10));
    EXPECT_GE(run.minDepth, kHeldDepth - 1);
    EXPECT_LE(run.maxDepth, kHeldDepth + 1);
    EXPECT_EQ(run.refused, 0u) << "the cap was never reached";
    EXPECT_EQ(run.pauses, 1u) << "only at the start";
    // 0.05% of ten minutes is 15 blocks, and two pre-fill blocks more.
    EXPECT_GE(run.givenBack, 16u);
    EXPECT_LE(run.givenBack, 18u);
}

TEST(PlaybackQueueHold, SenderSlowerThanPlayerRunsDryAndPreFillsFourBlocks)
{
    const DriftRun run = RunDrift(-500, std::chrono::minutes(10));
    EXPECT_GE(run.pauses, 4u) << "a slow sender empties the queue again and again";
    ASSERT_EQ(run.resumeDepths.size(), run.pauses);
    for (int depth : run.resumeDepths)
        EXPECT_EQ(depth, 4) << "playing resumes with the fourth block";
    EXPECT_LE(run.maxDepth, 4);
    // At most the pre-fill's two excess blocks after each resume.
    EXPECT_LE(run.givenBack, 2 * run.pauses);
    EXPECT_EQ(run.refused, 0u);
}

TEST(PlaybackQueueHold, WithoutDriftTheDepthStaysPut)
{
    const DriftRun run = RunDrift(0, std::chrono::minutes(10));
    EXPECT_EQ(run.minDepth, kHeldDepth);
    EXPECT_EQ(run.maxDepth, kHeldDepth);
    EXPECT_EQ(run.givenBack, 2u) << "the pre-fill's excess only";
}

// A sender far faster than any hold gives back (half as fast again): the
// cap of 13 stays the outer bound, and the 14th unplayed block finds no room.
TEST(PlaybackQueueHold, CapStillDropsTheFourteenthBlock)
{
    const DriftRun run = RunDrift(+500000, std::chrono::seconds(60));
    EXPECT_EQ(run.maxDepth, kMaxUnplayedBlocks);
    EXPECT_GT(run.refused, 0u);
}

// The block left out is the quietest of the second before it, never one of
// loud speech: loud blocks, steady to within a few percent, then a pause.
TEST(PlaybackQueueHold, BlockGivenBackIsTheQuietestInItsWindow)
{
    FakeWaveOut device;
    ASSERT_EQ(device.Open(), WaveOk);
    SimTime now{};
    PlaybackQueue queue(&device, [&now] { return now; });
    constexpr size_t kPauseFrom = 560, kPauseTo = 566;  // after the excess is found
    std::vector<uint32_t> levels;
    std::vector<std::vector<uint8_t>> fed;
    // Six blocks pending for long: a lasting excess. One block plays as the
    // next arrives, so the depth stays where it is.
    for (size_t i = 0; i < 900 && queue.GivenBackBlocks() == 0; ++i) {
        now += std::chrono::milliseconds(20);
        const bool pause = i >= kPauseFrom && i < kPauseTo;
        const double amplitude = pause ? 500 + 100 * double(i % 3) : 9000 + 40 * double(i % 7);
        fed.push_back(test::TonePcm(300, kGsmFrameSamples, amplitude, i * kGsmFrameSamples));
        levels.push_back(PlayoutBlockLevel(fed.back().data()));
        if (queue.Pending() >= 6)
            device.PlayN(1);
        queue.Reclaim();
        ASSERT_TRUE(queue.Queue(fed.back().data(), queue.Pending()));
    }
    ASSERT_EQ(queue.GivenBackBlocks(), 1u);
    // The written blocks are the fed ones but one: find which.
    const auto& written = device.Written();
    ASSERT_EQ(written.size(), fed.size() - 1);
    size_t left = 0;
    while (left < written.size() && written[left] == fed[left])
        ++left;
    ASSERT_GE(left, kPauseFrom) << "given back in loud speech";
    ASSERT_LT(left, kPauseTo);
    for (size_t i = left - DelayHold::kLevelWindowBlocks; i < left; ++i)
        EXPECT_LE(levels[left], levels[i]) << "block " << i;
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
