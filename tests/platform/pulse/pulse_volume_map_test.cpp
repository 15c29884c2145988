// How the sound server's per-channel volumes show on the sliders' one or two
// channels, and how a slider's write changes them.
#include "platform/pulse/pulse_mixer_device.h"

#include <pulse/channelmap.h>
#include <pulse/volume.h>

#include <gtest/gtest.h>

#include <vector>

#include "platform/mixer_scale.h"

namespace velnar {
namespace {

constexpr pa_volume_t kNorm = PA_VOLUME_NORM;

struct Device {
    pa_channel_map map{};
    pa_cvolume volume{};
    Device(const char* layout, std::vector<pa_volume_t> values)
    {
        EXPECT_TRUE(pa_channel_map_parse(&map, layout)) << layout;
        volume.channels = static_cast<uint8_t>(values.size());
        for (size_t c = 0; c < values.size(); ++c)
            volume.values[c] = values[c];
    }
    std::vector<pa_volume_t> Values() const
    {
        return {volume.values, volume.values + volume.channels};
    }
};

TEST(PulseVolumeMap, ReadsSidesOfEveryLayout)
{
    const struct {
        const char* layout;
        std::vector<pa_volume_t> values;
        PulseSides shown;
    } cases[] = {
        {"front-left,front-right", {kNorm / 2, kNorm}, {2, 32768, 65535}},
        {"front-left,front-right",
         {kNorm * 3 / 2, kNorm * 2},
         {2, 65535, 65535}},  // above 100 %: the top
        {"mono", {kNorm / 4}, {1, 16384, 16384}},
        {"aux0,aux1", {kNorm / 4, kNorm / 2}, {1, 32768, 32768}},  // no sides: the loudest
        // 5.1: the loudest channel of each side; centre and LFE are neither.
        {"front-left,front-right,rear-left,rear-right,front-center,lfe",
         {kNorm / 4, kNorm / 2, kNorm / 8, kNorm / 2, kNorm, kNorm},
         {2, 16384, 32768}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const Device device(c.layout, c.values);
        const PulseSides shown = PulseVolumeToSides(device.volume, device.map);
        EXPECT_EQ(shown.channels, c.shown.channels);
        EXPECT_EQ(shown.left, c.shown.left);
        EXPECT_EQ(shown.right, c.shown.right);
    }
}

TEST(PulseVolumeMap, WritesKeepProportionsAndMoveBackExactly)
{
    const struct {
        const char* layout;
        std::vector<pa_volume_t> values;
        uint32_t left, right;
        std::vector<pa_volume_t> written;
    } cases[] = {
        {"front-left,front-right", {kNorm, kNorm}, 16384, 49152, {16384, 49152}},
        {"front-left,front-right", {0, 0}, 32768, 32768, {32768, 32768}},  // from silence
        {"front-left,front-right", {kNorm * 2, kNorm}, 65535, 32768, {kNorm, kNorm / 2}},
        {"mono", {kNorm}, 16384, 16384, {16384}},
        {"aux0,aux1", {kNorm / 2, kNorm}, 32768, 32768, {kNorm / 4, kNorm / 2}},  // scaled alike
        // 5.1: each side scales its own channels, centre and LFE follow the louder side.
        {"front-left,front-right,rear-left,rear-right,front-center,lfe",
         {kNorm / 2, kNorm / 2, kNorm / 4, kNorm / 4, kNorm / 2, kNorm / 4},
         16384,
         32768,
         {kNorm / 4, kNorm / 2, kNorm / 8, kNorm / 4, kNorm / 2, kNorm / 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        Device device(c.layout, c.values);
        PulseSidesToVolume(device.volume, device.map, c.left, c.right);
        for (size_t i = 0; i < c.written.size(); ++i)
            EXPECT_NEAR(device.volume.values[i], c.written[i], 1) << "channel " << i;
        const PulseSides shown = PulseVolumeToSides(device.volume, device.map);
        EXPECT_NEAR(shown.left, c.left, 1);
        EXPECT_NEAR(shown.right, c.right, 1);
    }

    // Down and back up again leaves every channel of a surround device where it was.
    const std::vector<pa_volume_t> start{40000, 30000, 20000, 10000, 50000, 5000};
    Device device("front-left,front-right,rear-left,rear-right,front-center,lfe", start);
    PulseSidesToVolume(device.volume, device.map, 20000, 15000);
    PulseSidesToVolume(device.volume, device.map, RawToMixerValue(40000, 0, kNorm),
                       RawToMixerValue(30000, 0, kNorm));
    for (size_t i = 0; i < start.size(); ++i)
        EXPECT_NEAR(device.volume.values[i], start[i], 3) << "channel " << i;
}

}  // namespace
}  // namespace velnar
