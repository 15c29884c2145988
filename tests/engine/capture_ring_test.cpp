// The capture ring on the in-memory wave-in device: what Start queues, what
// a recycled buffer looks like, and a device that refuses a buffer.
#include "engine/capture_ring.h"

#include "platform/doubles/fake_wave_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace velnar {
namespace {

class CaptureRingTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(device.Open([this](WaveHeader* header) { returned.push_back(header); }), WaveOk);
    }
    void TearDown() override { device.Close(); }

    FakeWaveIn device;
    CaptureRing ring{&device};
    std::vector<WaveHeader*> returned;
};

TEST_F(CaptureRingTest, StartQueuesEveryBufferNumberedInOrder)
{
    ASSERT_EQ(ring.Start(), 0);
    EXPECT_TRUE(device.IsStarted());
    EXPECT_EQ(device.QueuedCount(), size_t(kCaptureBufferCount));
    for (int i = 0; i < kCaptureBufferCount; ++i)
        ASSERT_TRUE(device.Deliver(std::vector<uint8_t>(kPcmFrameBytes, uint8_t(i + 1))));
    ASSERT_EQ(returned.size(), size_t(kCaptureBufferCount));
    for (int i = 0; i < kCaptureBufferCount; ++i) {
        EXPECT_EQ(returned[i]->user, uintptr_t(i + 1));
        EXPECT_EQ(returned[i]->bufferLength, kPcmFrameBytes);
        EXPECT_EQ(returned[i]->data[0], uint8_t(i + 1)) << "each header has a buffer of its own";
    }
    EXPECT_EQ(ring.NextSequence(), uint32_t(kCaptureBufferCount + 1));
}

TEST_F(CaptureRingTest, RecycledBufferIsZeroedRenumberedAndQueuedOnlyWhenAsked)
{
    ASSERT_EQ(ring.Start(), 0);
    device.Deliver(std::vector<uint8_t>(kPcmFrameBytes, 0x55));
    device.Deliver(std::vector<uint8_t>(kPcmFrameBytes, 0x66));
    ASSERT_EQ(returned.size(), 2u);
    ring.Recycle(returned[0], true);
    EXPECT_EQ(device.QueuedCount(), size_t(kCaptureBufferCount - 1));
    EXPECT_TRUE(std::all_of(returned[0]->data, returned[0]->data + kPcmFrameBytes,
                            [](uint8_t byte) { return byte == 0; }));
    EXPECT_EQ(returned[0]->user, uintptr_t(kCaptureBufferCount + 1));
    ring.Recycle(returned[1], false);
    EXPECT_EQ(device.QueuedCount(), size_t(kCaptureBufferCount - 1));
    EXPECT_EQ(returned[1]->data[0], 0);
    EXPECT_EQ(ring.NextSequence(), uint32_t(kCaptureBufferCount + 3));
}

TEST_F(CaptureRingTest, RefusedBufferLeavesTheDeviceStopped)
{
    device.results.addBuffer = WaveErrDevice;
    EXPECT_EQ(ring.Start(), -1);
    EXPECT_FALSE(device.IsStarted());
    EXPECT_EQ(device.QueuedCount(), 0u);
}

TEST(CaptureRingWithoutDevice, StartFails)
{
    CaptureRing ring(nullptr);
    EXPECT_EQ(ring.Start(), -1);
}

}  // namespace
}  // namespace velnar
