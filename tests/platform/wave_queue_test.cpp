// The queues every wave device keeps: capture buffers filled in whole frames
// and sent back in order through a mailbox that a callback may close or
// destroy, and playback blocks handed over in whole frames.
#include "platform/wave_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <memory>
#include <numeric>
#include <vector>

namespace velnar {
namespace {

// Buffers of the given byte lengths, each holding 0xEE until written.
struct Headers {
    explicit Headers(std::vector<uint32_t> lengths)
        : memory(lengths.size()), headers(lengths.size())
    {
        for (size_t i = 0; i < lengths.size(); ++i) {
            memory[i].assign(lengths[i], 0xEE);
            headers[i].data = memory[i].data();
            headers[i].bufferLength = lengths[i];
        }
    }
    std::vector<std::vector<uint8_t>> memory;
    std::vector<WaveHeader> headers;
};

std::vector<uint8_t> Counting(size_t bytes)
{
    std::vector<uint8_t> pcm(bytes);
    std::iota(pcm.begin(), pcm.end(), uint8_t{0});
    return pcm;
}

class CaptureQueueTest : public ::testing::Test {
protected:
    void OpenAndAdd(Headers& headers)
    {
        queue.Open([this](WaveHeader* h) { returned.push_back(h); });
        for (WaveHeader& h : headers.headers) {
            ASSERT_EQ(queue.Prepare(&h), WaveOk);
            ASSERT_EQ(queue.Add(&h), WaveOk);
        }
    }

    CaptureQueue queue{CaptureQueue::Dispatch::Manual};
    std::vector<WaveHeader*> returned;
};

TEST_F(CaptureQueueTest, DeliverFillsWholeFramesInOrderAndDropsTheRest)
{
    Headers buffers({4, 5, 4});  // the 5-byte buffer is full at 4
    OpenAndAdd(buffers);
    queue.Deliver(Counting(6));
    EXPECT_EQ(queue.WaitingCount(), 1u);
    EXPECT_EQ(returned.size(), 0u) << "nothing goes back before dispatch";
    queue.Deliver(Counting(20));
    EXPECT_EQ(queue.DispatchNow(), 3u);

    ASSERT_EQ(returned.size(), 3u);
    for (size_t i = 0; i < returned.size(); ++i) {
        EXPECT_EQ(returned[i], &buffers.headers[i]);
        EXPECT_EQ(returned[i]->flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
    }
    EXPECT_EQ(buffers.memory[1], (std::vector<uint8_t>{4, 5, 0, 1, 0xEE}));
    EXPECT_EQ(buffers.headers[1].bytesRecorded, 4u);
    EXPECT_EQ(buffers.memory[2], (std::vector<uint8_t>{2, 3, 4, 5}));
}

TEST_F(CaptureQueueTest, StopSendsBackOnlyAPartFilledBufferAndResetSendsAll)
{
    Headers buffers({8, 8, 8});
    OpenAndAdd(buffers);
    queue.Stop();
    EXPECT_EQ(queue.WaitingCount(), 0u) << "an empty buffer stays queued";
    queue.Deliver(Counting(2));
    queue.Stop();
    queue.Reset();
    queue.DispatchNow();
    ASSERT_EQ(returned.size(), 3u);
    EXPECT_EQ(returned[0]->bytesRecorded, 2u);
    EXPECT_EQ(returned[2], &buffers.headers[2]);
    EXPECT_TRUE(queue.IsEmpty());
}

TEST_F(CaptureQueueTest, CloseLetsGoWithoutCallingBackAndRefusesHeaders)
{
    Headers buffers({8, 8});
    OpenAndAdd(buffers);
    queue.CompleteHead();
    queue.Close();
    EXPECT_EQ(queue.DispatchNow(), 0u);
    EXPECT_TRUE(returned.empty());
    for (const WaveHeader& h : buffers.headers)
        EXPECT_EQ(h.flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
    EXPECT_EQ(queue.Prepare(&buffers.headers[0]), WaveErrNotOpen);
    EXPECT_EQ(queue.Add(&buffers.headers[0]), WaveErrNotOpen);
    EXPECT_EQ(queue.Unprepare(&buffers.headers[0]), WaveErrNotOpen);
}

// A callback may queue again and cause more completions (handed back in the
// same dispatch, in order), or destroy the device (nothing more is handed).
TEST(CaptureQueueCallback, MayRequeueOrDestroyTheQueue)
{
    Headers buffers({2, 2, 2});
    auto queue = std::make_unique<CaptureQueue>(CaptureQueue::Dispatch::Manual);
    std::vector<WaveHeader*> returned;
    queue->Open([&](WaveHeader* h) {
        returned.push_back(h);
        if (returned.size() == 1)
            queue->Reset();
        else
            queue.reset();
    });
    for (WaveHeader& h : buffers.headers) {
        ASSERT_EQ(queue->Prepare(&h), WaveOk);
        ASSERT_EQ(queue->Add(&h), WaveOk);
    }
    queue->CompleteHead();
    queue->DispatchNow();
    EXPECT_EQ(returned.size(), 2u) << "the third came back after the queue was destroyed";
    EXPECT_EQ(queue, nullptr);
}

TEST(CaptureQueuePosted, CallsBackFromTheEventLoopUnlessHeldOrClosed)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    Headers buffers({2, 2, 2});
    CaptureQueue queue;
    std::vector<WaveHeader*> returned;
    queue.Open([&](WaveHeader* h) { returned.push_back(h); });
    for (WaveHeader& h : buffers.headers) {
        ASSERT_EQ(queue.Prepare(&h), WaveOk);
        ASSERT_EQ(queue.Add(&h), WaveOk);
    }
    queue.CompleteHead();
    EXPECT_TRUE(returned.empty()) << "called back from inside a call";
    QCoreApplication::processEvents();
    EXPECT_EQ(returned.size(), 1u);

    queue.HoldCompletions();
    queue.CompleteHead();
    QCoreApplication::processEvents();
    EXPECT_EQ(returned.size(), 1u) << "a held completion was posted";
    EXPECT_EQ(queue.DispatchNow(), 1u);
    EXPECT_EQ(returned.size(), 2u);

    queue.CompleteHead();
    queue.Close();
    QCoreApplication::processEvents();
    EXPECT_EQ(returned.size(), 2u) << "called back after Close";
}

TEST(BlockQueue, HandsOverWholeFramesAndFinishesBlocksTakenWhole)
{
    Headers blocks({5, 4});  // the odd last byte of the first is never played
    blocks.memory[0] = {1, 2, 3, 4, 9};
    blocks.memory[1] = {5, 6, 7, 8};
    BlockQueue queue;
    EXPECT_EQ(queue.Prepare(&blocks.headers[0]), WaveErrNotOpen);
    queue.Open();
    EXPECT_EQ(queue.Add(&blocks.headers[0]), WaveErrUnprepared);
    for (WaveHeader& h : blocks.headers) {
        ASSERT_EQ(queue.Prepare(&h), WaveOk);
        ASSERT_EQ(queue.Add(&h), WaveOk);
    }
    EXPECT_EQ(queue.Unprepare(&blocks.headers[0]), WaveErrStillPlaying);

    std::array<uint8_t, 6> staging{};
    ASSERT_EQ(queue.Gather(staging), 6u);
    EXPECT_EQ(staging, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    queue.TakeHanded(2);
    EXPECT_EQ(queue.Count(), 2u);
    ASSERT_EQ(queue.Gather(staging), 6u);
    EXPECT_EQ(staging[0], 3);
    queue.TakeHanded(4);
    EXPECT_EQ(blocks.headers[0].flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.Gather(staging), 2u);
    EXPECT_EQ(staging[0], 7);

    EXPECT_EQ(queue.FinishOldest(3), 1u);
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.Unprepare(&blocks.headers[1]), WaveOk);
}

}  // namespace
}  // namespace velnar
