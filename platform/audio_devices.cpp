#include "platform/audio_devices.h"

#include "platform/alsa_mixer_device.h"
#include "platform/alsa_wave_device.h"
#include "platform/pulse_context.h"
#include "platform/pulse_mixer_device.h"
#include "platform/pulse_wave_device.h"
#include "platform/silent_wave_device.h"

#include <cstdio>
#include <cstdlib>

namespace velnar {

namespace {

constexpr const char* kChoiceVariable = "VELNAR_AUDIO";

AudioDevices MakeAlsaDevices()
{
    AudioDevices devices;
    devices.waveIn = MakeAlsaWaveIn();
    devices.waveOut = MakeAlsaWaveOut();
    devices.mixer = CreateAlsaMixerDevice();
    devices.backend = "alsa";
    return devices;
}

// The sound server's own streams and volumes, all on the program's one
// connection: the mixer device holds it from here on, so the wave devices
// find it connected when the engine opens them.
AudioDevices MakePulseDevices()
{
    AudioDevices devices;
    devices.mixer = CreatePulseMixerDevice();
    devices.waveIn = MakePulseWaveIn();
    devices.waveOut = MakePulseWaveOut();
    devices.backend = "pulse";
    return devices;
}

// No sound at all, and no mixer for the faders to bind to.
AudioDevices MakeSilentDevices()
{
    AudioDevices devices;
    devices.waveIn = MakeSilentWaveIn();
    devices.waveOut = MakeSilentWaveOut();
    devices.backend = "none";
    return devices;
}

// The variable's backend if it names one, else the sound server if one
// answers (within a short wait), else ALSA.
std::string AutomaticChoice(std::shared_ptr<PulseContext>& connection)
{
    const char* named = std::getenv(kChoiceVariable);
    if (named && *named)
        return named;
    connection = PulseContext::Shared();
    return connection->Connect() ? "pulse" : "alsa";
}

}  // namespace

AudioDevices MakeAudioDevices(const std::string& choice)
{
    std::shared_ptr<PulseContext> connection;  // held until the devices hold it
    const std::string backend = choice.empty() ? AutomaticChoice(connection) : choice;
    if (backend == "alsa")
        return MakeAlsaDevices();
    if (backend == "pulse")
        return MakePulseDevices();
    if (backend == "none")
        return MakeSilentDevices();
    std::fprintf(stderr,
                 "velnar: unknown audio backend \"%s\" (known: alsa, pulse, none); running without sound\n",
                 backend.c_str());
    return {};
}

}  // namespace velnar
