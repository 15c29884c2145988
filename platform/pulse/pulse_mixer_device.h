// The sound server's volumes as one mixer device, spoken natively over the
// program's shared connection to the server (pulse_context.h), on the event
// loop. It shows the same two
// destinations as the ALSA mixer:
//   - speakers: the default sink's volume, control ID kPulsePlaybackVolumeId;
//   - wave-in, with one microphone source: the default source's volume,
//     control ID kPulseCaptureVolumeId.
// Both follow the server's defaults: when the default sink or source changes
// (in the desktop's sound settings, or `pactl set-default-sink`), the
// controls re-resolve to the new device and every handle is notified.
//
// Values are 0..65535 with 65535 steps; 65535 is the server's 100 %
// (PA_VOLUME_NORM). Volumes are cached from the server's replies and kept
// current through its change subscription, so reading costs no round trip;
// writes go out at once and read back as written. A connection that fails
// makes reads and writes fail; once it is back (the wave devices reconnect
// for the next call) the volumes are fetched again and every handle is
// notified.
//
// How a server volume meets the sliders' one-or-two-channel model:
//   - Above 100 %: shown as the top value (65535). Nothing is written back
//     unless a slider is moved, so an amplified device stays as it is until
//     the user chooses a level.
//   - Channels: a device with channels on both sides shows two channels,
//     left = the loudest left-side channel, right = the loudest right-side
//     channel. A write scales each side's channels by the side's new level
//     over its old one (their proportions within the side are kept) and the
//     remaining channels (centre, LFE, aux) by the louder side's ratio, so
//     that a slider moved and moved back leaves every channel as it was. A
//     device without channels on both sides (mono, aux only) shows one
//     channel, its loudest, and a write scales all channels alike.
//   - One value written to a two-sided device sets both sides to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/mixer_device.h"

struct pa_cvolume;
struct pa_channel_map;

namespace velnar {

class PulseContext;

inline constexpr uint32_t kPulsePlaybackVolumeId = 1;
inline constexpr uint32_t kPulseCaptureVolumeId = 2;

class PulseMixerDevice : public MixerDevice {
public:
    // Connects when the connection is not ready yet at the first Open.
    explicit PulseMixerDevice(std::shared_ptr<PulseContext> context);
    ~PulseMixerDevice() override;

    uint32_t GetNumDevs() override;
    MixerResult Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle) override;
    MixerResult GetDevCaps(MixerHandle handle, MixerCaps& caps) override;
    MixerResult GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags) override;
    MixerResult GetLineControlByType(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                     MixerControl& control) override;
    MixerResult GetControlDetails(MixerHandle handle, MixerControlDetails& details) override;
    MixerResult SetControlDetails(MixerHandle handle, const MixerControlDetails& details) override;
    MixerResult Close(MixerHandle handle) override;

    struct Impl;  // the implementation's own (public for its event list only)

private:
    std::unique_ptr<Impl> m_impl;
};

// The mixer device on the program's shared connection (PulseContext::Shared()).
std::shared_ptr<MixerDevice> CreatePulseMixerDevice();

// The mapping described above, on its own.
struct PulseSides {
    uint32_t channels = 0;  // 2: left and right sides; 1: one level for all
    uint32_t left = 0;      // 0..65535 mixer values
    uint32_t right = 0;     // equal to left for one channel
};
PulseSides PulseVolumeToSides(const pa_cvolume& volume, const pa_channel_map& map);
// The current volume changed so that its sides read left and right.
void PulseSidesToVolume(pa_cvolume& volume, const pa_channel_map& map, uint32_t left,
                        uint32_t right);

}  // namespace velnar
