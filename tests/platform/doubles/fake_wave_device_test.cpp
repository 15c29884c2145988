#include "platform/doubles/fake_wave_device.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <vector>

namespace velnar {
namespace {

constexpr uint32_t kBufferBytes = 320;

struct Buffers {
    std::array<std::array<uint8_t, kBufferBytes>, 4> memory{};
    std::array<WaveHeader, 4> headers{};
    Buffers()
    {
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].data = memory[i].data();
            headers[i].bufferLength = kBufferBytes;
            headers[i].user = i;
        }
    }
};

std::vector<uint8_t> Pcm(size_t bytes, uint8_t value)
{
    return std::vector<uint8_t>(bytes, value);
}

class FakeWaveInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(in.Open([this](WaveHeader* h) { returned.push_back(h); }), WaveOk);
    }
    void QueueAll()
    {
        for (WaveHeader& h : buffers.headers) {
            ASSERT_EQ(in.Prepare(&h), WaveOk);
            ASSERT_EQ(in.AddBuffer(&h), WaveOk);
        }
    }

    FakeWaveIn in;
    Buffers buffers;
    std::vector<WaveHeader*> returned;
};

TEST_F(FakeWaveInTest, DeliversFilledBuffersInQueueOrderOnlyWhenDispatched)
{
    QueueAll();
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 2)));
    EXPECT_TRUE(returned.empty()) << "completion must wait for a dispatch";
    EXPECT_EQ(in.DispatchPosted(), 2u);
    ASSERT_EQ(returned.size(), 2u);
    EXPECT_EQ(returned[0], &buffers.headers[0]);
    EXPECT_EQ(returned[1], &buffers.headers[1]);
    EXPECT_EQ(buffers.memory[1][kBufferBytes - 1], 2);
    EXPECT_EQ(returned[0]->bytesRecorded, kBufferBytes);
    EXPECT_EQ(returned[0]->flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
}

TEST_F(FakeWaveInTest, ShortAndOversizedPcm)
{
    QueueAll();
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Deliver(Pcm(100, 7)));
    ASSERT_TRUE(in.Deliver(Pcm(kBufferBytes + 50, 8)));
    ASSERT_EQ(returned.size(), 2u);
    EXPECT_EQ(returned[0]->bytesRecorded, 100u);
    EXPECT_EQ(returned[1]->bytesRecorded, kBufferBytes);
}

TEST_F(FakeWaveInTest, NothingIsCapturedBeforeStartOrWithAnEmptyQueue)
{
    EXPECT_FALSE(in.Deliver(Pcm(kBufferBytes, 1)));
    QueueAll();
    EXPECT_FALSE(in.Deliver(Pcm(kBufferBytes, 1)));
    ASSERT_EQ(in.Start(), WaveOk);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(in.Deliver(Pcm(kBufferBytes, 1)));
    EXPECT_FALSE(in.Deliver(Pcm(kBufferBytes, 1)));
}

TEST_F(FakeWaveInTest, StopReturnsOnlyThePartFilledBuffer)
{
    QueueAll();
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_EQ(in.Stop(), WaveOk);
    EXPECT_EQ(in.DispatchPosted(), 0u) << "an empty head buffer stays queued";

    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Fill(Pcm(60, 3)));
    ASSERT_EQ(in.Stop(), WaveOk);
    in.DispatchPosted();
    ASSERT_EQ(returned.size(), 1u);
    EXPECT_EQ(returned[0]->bytesRecorded, 60u);
    EXPECT_EQ(in.QueuedCount(), 3u);
}

TEST_F(FakeWaveInTest, ResetReturnsEveryQueuedBufferAndCallbacksMayRequeue)
{
    QueueAll();
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_EQ(in.Reset(), WaveOk);
    EXPECT_TRUE(returned.empty());
    EXPECT_EQ(in.DispatchPosted(), 4u);
    EXPECT_EQ(returned.size(), 4u);
    for (WaveHeader& h : buffers.headers)
        EXPECT_TRUE(h.flags & WaveDone);

    // A callback that requeues (as the engine does during a call).
    WaveHeader* requeued = returned[0];
    EXPECT_EQ(in.AddBuffer(requeued), WaveOk);
    EXPECT_EQ(in.QueuedCount(), 1u);
}

TEST_F(FakeWaveInTest, CloseReleasesQueuedBuffersWithoutCallingBack)
{
    QueueAll();
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    ASSERT_EQ(in.Close(), WaveOk);
    EXPECT_EQ(in.DispatchPosted(), 0u);
    EXPECT_TRUE(returned.empty());
    for (WaveHeader& h : buffers.headers) {
        EXPECT_FALSE(h.flags & WaveInQueue);
        EXPECT_EQ(in.Unprepare(&h), WaveErrNotOpen);
    }
}

TEST(FakeWaveInCallback, MayCloseTheDevice)
{
    Buffers buffers;
    FakeWaveIn in;
    int calls = 0;
    ASSERT_EQ(in.Open([&](WaveHeader*) {
        ++calls;
        EXPECT_EQ(in.Close(), WaveOk);
    }),
              WaveOk);
    for (WaveHeader& h : buffers.headers) {
        ASSERT_EQ(in.Prepare(&h), WaveOk);
        ASSERT_EQ(in.AddBuffer(&h), WaveOk);
    }
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    EXPECT_EQ(in.DispatchPosted(), 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(in.IsOpen());
}

TEST_F(FakeWaveInTest, InjectedFailuresChangeNothing)
{
    WaveHeader& h = buffers.headers[0];
    in.results.prepare = WaveErrDevice;
    EXPECT_EQ(in.Prepare(&h), WaveErrDevice);
    EXPECT_FALSE(h.flags & WavePrepared);
    in.results.prepare = WaveOk;
    ASSERT_EQ(in.Prepare(&h), WaveOk);
    in.results.addBuffer = WaveErrDevice;
    EXPECT_EQ(in.AddBuffer(&h), WaveErrDevice);
    EXPECT_EQ(in.QueuedCount(), 0u);

    FakeWaveIn closed;
    closed.results.open = WaveErrNoDevice;
    EXPECT_EQ(closed.Open(nullptr), WaveErrNoDevice);
    EXPECT_FALSE(closed.IsOpen());
    EXPECT_EQ(closed.Prepare(&h), WaveErrNotOpen);
}

// The header rules every device applies, checked through the fake.
TEST_F(FakeWaveInTest, HeaderRules)
{
    WaveHeader noData{};
    noData.bufferLength = kBufferBytes;
    WaveHeader noLength{};
    noLength.data = buffers.memory[0].data();
    EXPECT_EQ(in.Prepare(nullptr), WaveErrInvalid);
    EXPECT_EQ(in.Prepare(&noData), WaveErrInvalid);
    EXPECT_EQ(in.Prepare(&noLength), WaveErrInvalid);

    WaveHeader& h = buffers.headers[0];
    EXPECT_EQ(in.AddBuffer(&h), WaveErrUnprepared);
    ASSERT_EQ(in.Prepare(&h), WaveOk);
    ASSERT_EQ(in.AddBuffer(&h), WaveOk);
    EXPECT_EQ(in.AddBuffer(&h), WaveErrStillPlaying) << "queued twice";
    EXPECT_EQ(in.Unprepare(&h), WaveErrStillPlaying);
    ASSERT_EQ(in.Reset(), WaveOk);
    EXPECT_EQ(in.Unprepare(&h), WaveOk);
    EXPECT_FALSE(h.flags & WavePrepared);
}

TEST(FakeWaveInEventLoop, DispatchesFromTheEventLoopAndNotAfterClose)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    Buffers buffers;
    std::vector<WaveHeader*> returned;
    FakeWaveIn in;
    in.SetDispatchThroughEventLoop(true);
    ASSERT_EQ(in.Open([&](WaveHeader* h) { returned.push_back(h); }), WaveOk);
    for (WaveHeader& h : buffers.headers) {
        ASSERT_EQ(in.Prepare(&h), WaveOk);
        ASSERT_EQ(in.AddBuffer(&h), WaveOk);
    }
    ASSERT_EQ(in.Start(), WaveOk);
    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    EXPECT_TRUE(returned.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(returned.size(), 1u);

    ASSERT_TRUE(in.Complete(Pcm(kBufferBytes, 1)));
    ASSERT_EQ(in.Close(), WaveOk);
    QCoreApplication::processEvents();
    EXPECT_EQ(returned.size(), 1u) << "no callback after Close";
}

// ----------------------------------------------------------------- playback

class FakeWaveOutTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(out.Open(), WaveOk); }
    void WriteAll()
    {
        for (size_t i = 0; i < buffers.headers.size(); ++i) {
            buffers.memory[i].fill(static_cast<uint8_t>(i + 1));
            ASSERT_EQ(out.Prepare(&buffers.headers[i]), WaveOk);
            ASSERT_EQ(out.Write(&buffers.headers[i]), WaveOk);
        }
    }

    FakeWaveOut out;
    Buffers buffers;
};

TEST_F(FakeWaveOutTest, RecordsWrittenBytesAndPlaysInOrder)
{
    WriteAll();
    buffers.memory[0].fill(0xEE);  // later changes are not what was written
    ASSERT_EQ(out.Written().size(), 4u);
    EXPECT_EQ(out.Written()[0], std::vector<uint8_t>(kBufferBytes, 1));
    EXPECT_EQ(out.Written()[3], std::vector<uint8_t>(kBufferBytes, 4));

    EXPECT_EQ(out.PlayN(3), 3u);
    EXPECT_TRUE(buffers.headers[2].flags & WaveDone);
    EXPECT_FALSE(buffers.headers[3].flags & WaveDone);
    EXPECT_EQ(out.PlayAll(), 1u);
    EXPECT_EQ(out.PlayAll(), 0u);
}

TEST_F(FakeWaveOutTest, PauseHoldsAndRestartResumes)
{
    ASSERT_EQ(out.Pause(), WaveOk);
    WriteAll();
    EXPECT_EQ(out.PlayAll(), 0u);
    EXPECT_EQ(out.PendingCount(), 4u);
    ASSERT_EQ(out.Restart(), WaveOk);
    EXPECT_EQ(out.PlayN(1), 1u);
    EXPECT_EQ(out.Calls(),
              (std::vector<FakeCall>{FakeCall::Open, FakeCall::Pause, FakeCall::Prepare,
                                     FakeCall::Write, FakeCall::Prepare, FakeCall::Write,
                                     FakeCall::Prepare, FakeCall::Write, FakeCall::Prepare,
                                     FakeCall::Write, FakeCall::Restart}));
}

TEST_F(FakeWaveOutTest, ResetMarksEverythingDoneEvenWhilePaused)
{
    ASSERT_EQ(out.Pause(), WaveOk);
    WriteAll();
    ASSERT_EQ(out.Reset(), WaveOk);
    for (WaveHeader& h : buffers.headers) {
        EXPECT_TRUE(h.flags & WaveDone);
        EXPECT_EQ(out.Unprepare(&h), WaveOk);
    }
    EXPECT_EQ(out.PendingCount(), 0u);
}

TEST_F(FakeWaveOutTest, FailedWriteIsNotRecorded)
{
    WaveHeader& h = buffers.headers[0];
    ASSERT_EQ(out.Prepare(&h), WaveOk);
    out.results.addBuffer = WaveErrDevice;
    EXPECT_EQ(out.Write(&h), WaveErrDevice);
    EXPECT_TRUE(out.Written().empty());
    EXPECT_EQ(out.PendingCount(), 0u);
    EXPECT_EQ(out.Unprepare(&h), WaveOk);
}

}  // namespace
}  // namespace velnar
