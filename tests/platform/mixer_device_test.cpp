// Both mixer devices (ALSA's through its sound-server plugin, and the sound
// server's own) against the private PulseAudio server: the lines they show,
// writes that the server reports, and the server's own changes arriving as
// notifications on the event loop.
#include "platform/alsa/alsa_mixer_device.h"
#include "platform/pulse/pulse_mixer_device.h"

#include <gtest/gtest.h>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/mixer_scale.h"
#include "tests/platform/mixer_backends.h"
#include "tests/platform/pactl_volume.h"

namespace velnar {
namespace {

namespace audio = testing_audio;

constexpr long kFullVolume = 65536;  // the server's 100 %
constexpr int kWaitMs = 20000;       // a safety net; generous for a loaded machine

static_assert(kAlsaPlaybackVolumeId == kPulsePlaybackVolumeId &&
              kAlsaCaptureVolumeId == kPulseCaptureVolumeId);
constexpr uint32_t kPlaybackVolumeId = kAlsaPlaybackVolumeId;
constexpr uint32_t kCaptureVolumeId = kAlsaCaptureVolumeId;

// Whether the server's volume is that of the mixer values, give or take
// the rounding.
bool ServerVolumeIs(const std::optional<std::vector<long>>& reported,
                    const std::vector<uint32_t>& values)
{
    if (!reported || reported->size() != values.size())
        return false;
    for (size_t i = 0; i < values.size(); ++i)
        if (std::abs((*reported)[i] - values[i] * double(kFullVolume) / kMixerValueMax) > 1.0)
            return false;
    return true;
}

// The server has it once the event loop ran (the sound server's own device
// sends from there; ALSA's has it at once).
void ExpectServerVolumeSoon(uint32_t controlId, const std::vector<uint32_t>& values)
{
    auto reported = [controlId] {
        return controlId == kPlaybackVolumeId ? audio::SinkVolume() : audio::SourceVolume();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return ServerVolumeIs(reported(), values); }, kWaitMs))
        << "channel 0 at " << (reported() ? (*reported())[0] : -1);
}

class MixerDeviceTest : public testing::TestWithParam<test::MixerBackend> {
protected:
    void SetUp() override
    {
        if (!audio::HaveAudioServer())
            GTEST_SKIP() << "needs the test audio server: source tools/test-audio-env.sh";
        device = GetParam().make();
        ASSERT_TRUE(device);
        ASSERT_EQ(device->Open(
                      0,
                      [this](MixerHandle handle, uint32_t id) {
                          changes.push_back({handle, id});
                      },
                      handle),
                  MMSYSERR_NOERROR);
    }
    void TearDown() override
    {
        if (handle)
            device->Close(handle);
        device.reset();
        audio::SetSinkVolume("100%");
        audio::SetSourceVolume("100%");
    }

    MixerResult Write(uint32_t controlId, std::vector<uint32_t> values)
    {
        MixerControlDetails details{controlId, static_cast<uint32_t>(values.size()), 0, 4,
                                    values.data()};
        return device->SetControlDetails(handle, details);
    }
    std::vector<uint32_t> Read(uint32_t controlId)
    {
        std::vector<uint32_t> values(2, 0xDEADBEEF);
        MixerControlDetails details{controlId, 2, 0, 4, values.data()};
        EXPECT_EQ(device->GetControlDetails(handle, details), MMSYSERR_NOERROR);
        return values;
    }
    bool Notified(uint32_t controlId) const
    {
        for (const auto& [from, id] : changes)
            if (from == handle && id == controlId)
                return true;
        return false;
    }

    std::shared_ptr<MixerDevice> device;
    MixerHandle handle = 0;
    std::vector<std::pair<MixerHandle, uint32_t>> changes;
};

TEST_P(MixerDeviceTest, ShowsSpeakersAndARecordingMicrophone)
{
    EXPECT_EQ(device->GetNumDevs(), 1u);
    MixerCaps caps;
    ASSERT_EQ(device->GetDevCaps(handle, caps), MMSYSERR_NOERROR);
    ASSERT_EQ(caps.cDestinations, 2u);

    MixerLine speakers;
    speakers.dwDestination = 0;
    ASSERT_EQ(device->GetLineInfo(handle, speakers, MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NOERROR);
    EXPECT_EQ(speakers.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(speakers.szName, GetParam().speakersName);
    EXPECT_EQ(speakers.cChannels, 2u);
    EXPECT_EQ(speakers.cControls, 1u);

    MixerLine recording;
    recording.dwDestination = 1;
    ASSERT_EQ(device->GetLineInfo(handle, recording, MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NOERROR);
    EXPECT_EQ(recording.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    ASSERT_EQ(recording.cConnections, 1u);

    MixerLine microphone;
    microphone.dwDestination = 1;
    microphone.dwSource = 0;
    ASSERT_EQ(device->GetLineInfo(handle, microphone, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(microphone.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(microphone.szName, GetParam().microphoneName);
    EXPECT_EQ(microphone.cControls, 1u);
    microphone.dwSource = 1;
    EXPECT_NE(device->GetLineInfo(handle, microphone, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);

    MixerControl volume;
    ASSERT_EQ(device->GetLineControlByType(handle, speakers.dwLineID,
                                           MIXERCONTROL_CONTROLTYPE_VOLUME, volume),
              MMSYSERR_NOERROR);
    EXPECT_EQ(volume.dwControlID, kPlaybackVolumeId);
    EXPECT_EQ(volume.dwMinimum, 0u);
    EXPECT_EQ(volume.dwMaximum, 65535u);
    EXPECT_EQ(volume.cSteps, 65535u);  // the server's 0..65536 allows single units
    EXPECT_EQ(device->GetLineControlByType(handle, speakers.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE,
                                           volume),
              MIXERR_INVALCONTROL);
    EXPECT_EQ(device->GetLineControlByType(handle, recording.dwLineID,
                                           MIXERCONTROL_CONTROLTYPE_VOLUME, volume),
              MIXERR_INVALCONTROL);
    ASSERT_EQ(device->GetLineControlByType(handle, microphone.dwLineID,
                                           MIXERCONTROL_CONTROLTYPE_VOLUME, volume),
              MMSYSERR_NOERROR);
    EXPECT_EQ(volume.dwControlID, kCaptureVolumeId);
}

TEST_P(MixerDeviceTest, WritesReachTheServerAndReadBack)
{
    for (uint32_t controlId : {kPlaybackVolumeId, kCaptureVolumeId}) {
        SCOPED_TRACE(controlId);
        const std::vector<uint32_t> written{16384, 49152};
        ASSERT_EQ(Write(controlId, written), MMSYSERR_NOERROR);
        EXPECT_EQ(Read(controlId), written);
        ExpectServerVolumeSoon(controlId, written);

        const std::vector<uint32_t> both{30000};  // one value sets every channel
        MixerControlDetails details{controlId, 1, 0, 4, const_cast<uint32_t*>(both.data())};
        ASSERT_EQ(device->SetControlDetails(handle, details), MMSYSERR_NOERROR);
        EXPECT_EQ(Read(controlId), (std::vector<uint32_t>{30000, 30000}));
        ExpectServerVolumeSoon(controlId, {30000, 30000});
    }
}

TEST_P(MixerDeviceTest, ServerChangesArriveAsNotifications)
{
    const struct {
        uint32_t controlId;
        bool (*set)(const std::string&);
    } cases[] = {{kPlaybackVolumeId, audio::SetSinkVolume},
                 {kCaptureVolumeId, audio::SetSourceVolume}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.controlId);
        changes.clear();
        ASSERT_TRUE(c.set("20000 40000"));
        const std::vector<uint32_t> expected{RawToMixerValue(20000, 0, kFullVolume),
                                             RawToMixerValue(40000, 0, kFullVolume)};
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return Notified(c.controlId) && Read(c.controlId) == expected; }, kWaitMs));
    }
}

TEST_P(MixerDeviceTest, HandleClosedByItsOwnNotificationStaysQuiet)
{
    const std::shared_ptr<MixerDevice> other = GetParam().make();
    MixerHandle second = 0;
    int calls = 0;
    ASSERT_EQ(other->Open(
                  0,
                  [&](MixerHandle h, uint32_t) {
                      ++calls;
                      other->Close(h);
                  },
                  second),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(audio::SetSinkVolume("20000"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, kWaitMs));
    ASSERT_TRUE(audio::SetSinkVolume("40000"));
    // Our own handle hears the second change; the closed one must not.
    const uint32_t atSecondChange = RawToMixerValue(40000, 0, kFullVolume);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Read(kPlaybackVolumeId)[0] == atSecondChange; }, kWaitMs));
    QTest::qWait(0);
    EXPECT_EQ(calls, 1);
    MixerCaps caps;
    EXPECT_EQ(other->GetDevCaps(second, caps), MMSYSERR_INVALHANDLE);
}

INSTANTIATE_TEST_SUITE_P(Backends, MixerDeviceTest, testing::ValuesIn(test::MixerBackends()),
                         [](const testing::TestParamInfo<test::MixerBackend>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace velnar
