// What only the sound server's own mixer device does: follow the server's
// default devices as they change, and leave volumes above 100 % alone.
#include "platform/pulse/pulse_mixer_device.h"

#include <gtest/gtest.h>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/mixer_scale.h"
#include "platform/pulse/pulse_context.h"
#include "tests/platform/audio_server.h"
#include "tests/platform/mixer_backends.h"
#include "tests/platform/pactl_volume.h"

namespace velnar {
namespace {

namespace audio = testing_audio;

constexpr long kFullVolume = 65536;  // the server's 100 %
constexpr int kWaitMs = 20000;       // a safety net; generous for a loaded machine
constexpr const char* kOtherSink = "velnar_mixer_other";

class PulseMixerDeviceTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!audio::HaveAudioServer())
            GTEST_SKIP() << "needs the test audio server: source tools/test-audio-env.sh";
        device = test::MakePulseMixer();
        ASSERT_TRUE(device);
        ASSERT_EQ(device->Open(
                      0, [this](MixerHandle, uint32_t id) { changes.push_back(id); }, handle),
                  MMSYSERR_NOERROR);
    }
    void TearDown() override
    {
        if (device && handle)
            device->Close(handle);
        device.reset();
        audio::Pactl({"set-default-sink", "speaker"});
        if (!module.empty())
            audio::Pactl({"unload-module", module});
        audio::SetSinkVolume("100%");
    }

    bool LoadOtherSink()
    {
        const auto loaded =
            audio::Pactl({"load-module", "module-null-sink", std::string("sink_name=") + kOtherSink,
                          std::string("sink_properties=device.description=") + kOtherSink});
        if (!loaded)
            return false;
        module = loaded->substr(0, loaded->find_first_of("\n"));
        return true;
    }
    // Waits until pactl reports the sink's raw volumes, give or take the rounding.
    static bool SinkReaches(const std::string& sink, std::vector<long> raw)
    {
        return QTest::qWaitFor(
            [&] {
                const auto volume = audio::SinkVolumeOf(sink);
                if (!volume || volume->size() != raw.size())
                    return false;
                for (size_t i = 0; i < raw.size(); ++i)
                    if (std::abs((*volume)[i] - raw[i]) > 1)
                        return false;
                return true;
            },
            kWaitMs);
    }
    std::vector<uint32_t> Read()
    {
        std::vector<uint32_t> values(2, 0xDEADBEEF);
        MixerControlDetails details{kPulsePlaybackVolumeId, 2, 0, 4, values.data()};
        if (device->GetControlDetails(handle, details) != MMSYSERR_NOERROR)
            return {};
        return values;
    }
    bool ReadsSoon(std::vector<uint32_t> expected)
    {
        return QTest::qWaitFor([&] { return Read() == expected; }, kWaitMs);
    }

    std::shared_ptr<MixerDevice> device;
    MixerHandle handle = 0;
    std::vector<uint32_t> changes;
    std::string module;
};

TEST_F(PulseMixerDeviceTest, FollowsTheDefaultSinkToAnotherSinkAndBack)
{
    ASSERT_TRUE(audio::SetSinkVolume("65536"));
    ASSERT_TRUE(ReadsSoon({65535, 65535}));
    ASSERT_TRUE(LoadOtherSink());
    ASSERT_TRUE(audio::SetSinkVolumeOf(kOtherSink, "16384 32768"));
    QTest::qWait(100);
    changes.clear();

    ASSERT_TRUE(audio::Pactl({"set-default-sink", kOtherSink}));
    const std::vector<uint32_t> other{RawToMixerValue(16384, 0, kFullVolume),
                                      RawToMixerValue(32768, 0, kFullVolume)};
    EXPECT_TRUE(ReadsSoon(other));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::count(changes.begin(), changes.end(), kPulsePlaybackVolumeId); },
        kWaitMs));

    // Writes now go to the new default, and the old one keeps its volume.
    std::vector<uint32_t> written{20000, 40000};
    MixerControlDetails details{kPulsePlaybackVolumeId, 2, 0, 4, written.data()};
    ASSERT_EQ(device->SetControlDetails(handle, details), MMSYSERR_NOERROR);
    EXPECT_TRUE(SinkReaches(kOtherSink, {MixerValueToRaw(20000, 0, kFullVolume),
                                         MixerValueToRaw(40000, 0, kFullVolume)}));
    EXPECT_EQ(audio::SinkVolumeOf("speaker"), (std::vector<long>{kFullVolume, kFullVolume}));

    // The default device goes away: the server falls back, and so do we.
    ASSERT_TRUE(audio::Pactl({"unload-module", module}));
    module.clear();
    ASSERT_TRUE(audio::Pactl({"set-default-sink", "speaker"}));
    EXPECT_TRUE(ReadsSoon({65535, 65535}));
}

TEST_F(PulseMixerDeviceTest, AboveFullShowsTheTopAndIsLeftAlone)
{
    ASSERT_TRUE(audio::SetSinkVolume("98304 131072"));  // 150 %, 200 %
    EXPECT_TRUE(ReadsSoon({65535, 65535}));
    QTest::qWait(200);
    EXPECT_EQ(audio::SinkVolume(), (std::vector<long>{98304, 131072}));

    // A chosen level replaces it, with the balance as the sliders show it.
    std::vector<uint32_t> written{32768, 65535};
    MixerControlDetails details{kPulsePlaybackVolumeId, 2, 0, 4, written.data()};
    ASSERT_EQ(device->SetControlDetails(handle, details), MMSYSERR_NOERROR);
    EXPECT_TRUE(SinkReaches("speaker", {32768, kFullVolume}));
}

TEST(PulseMixerDeviceLost, ServerKilledFailsReadsAndWritesQuietly)
{
    if (!audio::HaveAudioServer())
        GTEST_SKIP() << "needs the test audio server: source tools/test-audio-env.sh";
    test::PrivateAudioServer server;
    ASSERT_TRUE(server.Running());
    auto context = std::make_shared<PulseContext>();
    ASSERT_TRUE(context->Connect(kWaitMs));
    PulseMixerDevice device(context);
    int notified = 0;
    MixerHandle handle = 0;
    ASSERT_EQ(device.Open(
                  0, [&](MixerHandle, uint32_t) { ++notified; }, handle),
              MMSYSERR_NOERROR);
    std::vector<uint32_t> values(2);
    MixerControlDetails details{kPulsePlaybackVolumeId, 2, 0, 4, values.data()};
    ASSERT_EQ(device.GetControlDetails(handle, details), MMSYSERR_NOERROR);

    server.Kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return context->GetState() == PulseContext::State::Failed; },
                                kWaitMs));
    EXPECT_EQ(device.GetControlDetails(handle, details), MMSYSERR_ERROR);
    EXPECT_EQ(device.SetControlDetails(handle, details), MMSYSERR_ERROR);
    QTest::qWait(100);
    EXPECT_EQ(device.Close(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(notified, 0);
}

}  // namespace
}  // namespace velnar
