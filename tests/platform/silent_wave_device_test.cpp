// The silent device pair runs on timers: these tests spin a real event loop
// and only bound the waits from above (a loaded machine delivers late, never
// early enough to matter).
#include "platform/silent_wave_device.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <array>
#include <functional>
#include <vector>

namespace velnar {
namespace {

constexpr uint32_t kBufferBytes = 320;

struct Buffers {
    std::array<std::array<uint8_t, kBufferBytes>, 3> memory{};
    std::array<WaveHeader, 3> headers{};
    Buffers()
    {
        for (size_t i = 0; i < headers.size(); ++i) {
            memory[i].fill(0x55);
            headers[i].data = memory[i].data();
            headers[i].bufferLength = kBufferBytes;
        }
    }
};

bool SpinUntil(const std::function<bool()>& condition, int timeoutMs = 2000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

TEST(SilentWaveInTest, DeliversQueuedBuffersFullOfSilenceInOrder)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto in = MakeSilentWaveIn();
    std::vector<WaveHeader*> returned;
    ASSERT_EQ(in->Open([&](WaveHeader* h) { returned.push_back(h); }), WaveOk);
    Buffers buffers;
    for (WaveHeader& header : buffers.headers) {
        ASSERT_EQ(in->Prepare(&header), WaveOk);
        ASSERT_EQ(in->AddBuffer(&header), WaveOk);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(returned.empty()) << "nothing is recorded before Start";
    ASSERT_EQ(in->Start(), WaveOk);
    ASSERT_TRUE(SpinUntil([&] { return returned.size() >= 2; }));
    EXPECT_EQ(returned[0], &buffers.headers[0]);
    EXPECT_EQ(returned[1], &buffers.headers[1]);
    for (WaveHeader* header : returned) {
        EXPECT_EQ(header->bytesRecorded, kBufferBytes);
        EXPECT_EQ(header->flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
        EXPECT_EQ(std::vector<uint8_t>(header->data, header->data + kBufferBytes),
                  std::vector<uint8_t>(kBufferBytes, 0));
    }
    // Close lets go of the last buffer without calling back, also when a
    // delivery was already on its way.
    ASSERT_EQ(in->Close(), WaveOk);
    const size_t atClose = returned.size();
    EXPECT_TRUE(buffers.headers[2].flags & WaveDone);
    SpinUntil([] { return false; }, 60);
    EXPECT_EQ(returned.size(), atClose);
    EXPECT_EQ(in->Start(), WaveErrNotOpen);
}

TEST(SilentWaveOutTest, PlaysInRealTimeAndHoldsBlocksWhilePaused)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto out = MakeSilentWaveOut();
    ASSERT_EQ(out->Open(), WaveOk);
    Buffers blocks;
    auto done = [&] {
        int count = 0;
        for (const WaveHeader& header : blocks.headers)
            count += (header.flags & WaveDone) ? 1 : 0;
        return count;
    };
    ASSERT_EQ(out->Pause(), WaveOk);
    for (WaveHeader& header : blocks.headers) {
        ASSERT_EQ(out->Prepare(&header), WaveOk);
        ASSERT_EQ(out->Write(&header), WaveOk);
    }
    SpinUntil([] { return false; }, 60);
    EXPECT_EQ(done(), 0) << "a paused device takes nothing";
    EXPECT_EQ(out->Unprepare(&blocks.headers[0]), WaveErrStillPlaying);
    ASSERT_EQ(out->Restart(), WaveOk);
    ASSERT_TRUE(SpinUntil([&] { return done() == 3; }));
    EXPECT_EQ(out->Unprepare(&blocks.headers[0]), WaveOk);
    EXPECT_EQ(out->Close(), WaveOk);
}

}  // namespace
}  // namespace velnar
