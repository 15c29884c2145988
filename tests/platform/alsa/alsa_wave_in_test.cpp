// The ALSA capture device: the capture suite on ALSA's "default" PCM
// (pointed at the test server), and what only it does.
#include "platform/alsa/alsa_wave_in.h"

#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace velnar {
namespace {

using test::CaptureRig;
using test::CaptureTest;
using test::CaptureToneTest;
using test::kRigBufferBytes;
using test::kRigBuffers;
using test::WaitFor;

INSTANTIATE_TEST_SUITE_P(Backends, CaptureTest, ::testing::Values(test::WaveBackendNamed("Alsa")),
                         test::BackendName);
INSTANTIATE_TEST_SUITE_P(Frequencies, CaptureToneTest,
                         test::ToneCases(test::WaveBackendNamed("Alsa")), test::ToneCaseName);

class AlsaCaptureTest : public test::CaptureTestBase {
protected:
    const test::WaveBackend& Backend() const override { return test::WaveBackendNamed("alsa"); }
};

// Between calls the device neither reads nor wakes the program: nothing is
// delivered and its descriptors are not watched until the next Start, which
// brings sound again.
TEST_F(AlsaCaptureTest, StoppedDeviceReadsNothingAndIsNotWatched)
{
    auto device = std::make_unique<AlsaWaveIn>("default");
    const AlsaWaveIn* in = device.get();
    CaptureRig rig(std::move(device));
    rig.requeue = false;
    ASSERT_EQ(rig.Open(), WaveOk);
    EXPECT_FALSE(in->IsWatching()) << "watched before the first Start";
    ASSERT_TRUE(rig.QueueAll());
    WaitFor([] { return false; }, 200);
    EXPECT_TRUE(rig.ReturnedBuffers().empty()) << "captured before the first Start";
    ASSERT_EQ(rig.In().Start(), WaveOk);
    EXPECT_TRUE(in->IsWatching());
    ASSERT_TRUE(WaitFor([&] { return !rig.ReturnedBuffers().empty(); }))
        << "no capture buffer came back";

    for (size_t call = 1; call <= 3; ++call) {
        ASSERT_EQ(rig.In().Stop(), WaveOk);
        ASSERT_EQ(rig.In().Reset(), WaveOk);
        const size_t queuedSoFar = kRigBuffers * call;
        ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() == queuedSoFar; }));
        EXPECT_FALSE(in->IsWatching()) << "watched while stopped, call " << call;
        ASSERT_TRUE(rig.QueueAll());
        WaitFor([] { return false; }, 200);
        EXPECT_EQ(rig.ReturnedBuffers().size(), queuedSoFar)
            << "captured while stopped, call " << call;

        ASSERT_EQ(rig.In().Start(), WaveOk);
        EXPECT_TRUE(in->IsWatching());
        EXPECT_TRUE(WaitFor(
            [&] {
                const auto& returned = rig.ReturnedBuffers();
                return returned.size() > queuedSoFar &&
                       returned[queuedSoFar].bytesRecorded == kRigBufferBytes;
            },
            500))
            << "no sound after start " << call + 1;
    }
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

}  // namespace
}  // namespace velnar
