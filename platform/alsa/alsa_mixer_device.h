// The sound card's mixer through ALSA's simple mixer interface, on one
// control device ("default" unless told otherwise). It is shown as one mixer
// device with up to two destinations:
//   - speakers: the playback volume of "Master" (else "PCM", else "Speaker"),
//     control ID kAlsaPlaybackVolumeId;
//   - wave-in, with one microphone source: the capture volume of "Capture"
//     (else "Mic"), control ID kAlsaCaptureVolumeId.
// Volumes are 0..65535 controls whose steps follow the card's raw range
// (platform/mixer_scale.h). Change notifications come from the mixer's poll
// descriptors, watched on the event loop of the thread that opened the
// handle (a QCoreApplication must exist for them; without one a handle works
// but is never notified).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/mixer_device.h"

namespace velnar {

inline constexpr uint32_t kAlsaPlaybackVolumeId = 1;
inline constexpr uint32_t kAlsaCaptureVolumeId = 2;

class AlsaMixerDevice : public MixerDevice {
public:
    explicit AlsaMixerDevice(std::string ctlName = "default");
    ~AlsaMixerDevice() override;

    uint32_t GetNumDevs() override;
    MixerResult Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle) override;
    MixerResult GetDevCaps(MixerHandle handle, MixerCaps& caps) override;
    MixerResult GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags) override;
    MixerResult GetLineControlByType(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                     MixerControl& control) override;
    MixerResult GetControlDetails(MixerHandle handle, MixerControlDetails& details) override;
    MixerResult SetControlDetails(MixerHandle handle, const MixerControlDetails& details) override;
    MixerResult Close(MixerHandle handle) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::shared_ptr<MixerDevice> CreateAlsaMixerDevice();

}  // namespace velnar
