#include "tests/platform/mixer_backends.h"

#include "platform/alsa/alsa_mixer_device.h"
#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_mixer_device.h"

namespace velnar::test {

std::shared_ptr<MixerDevice> MakePulseMixer()
{
    const std::shared_ptr<PulseContext> connection =
        PulseContext::Shared();  // held while the device is made
    if (!connection->Connect())
        return nullptr;
    return CreatePulseMixerDevice();
}

std::vector<MixerBackend> MixerBackends()
{
    return {
        {"alsa", [] { return std::make_shared<AlsaMixerDevice>(); }, "Master", "Capture"},
        {"pulse", MakePulseMixer, "speaker", "Monitor of mic"},
    };
}

}  // namespace velnar::test
