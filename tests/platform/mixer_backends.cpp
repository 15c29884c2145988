#include "tests/platform/mixer_backends.h"

#include "platform/alsa_mixer_device.h"
#include "platform/pulse_context.h"
#include "platform/pulse_mixer_device.h"

namespace velnar::test {

std::shared_ptr<MixerDevice> MakePulseMixer() {
    std::shared_ptr<PulseContext> context = PulseContext::Shared();
    if (!context->Connect())
        return nullptr;
    return std::make_shared<PulseMixerDevice>(std::move(context));
}

std::vector<MixerBackend> MixerBackends() {
    return {
        {"alsa", [] { return std::make_shared<AlsaMixerDevice>(); }, "Master", "Capture"},
        {"pulse", MakePulseMixer, "speaker", "Monitor of mic"},
    };
}

} // namespace velnar::test
