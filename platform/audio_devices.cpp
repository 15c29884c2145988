#include "platform/audio_devices.h"

#include "platform/alsa_mixer_device.h"
#include "platform/alsa_wave_device.h"
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

// No sound at all, and no mixer for the faders to bind to.
AudioDevices MakeSilentDevices()
{
    AudioDevices devices;
    devices.waveIn = MakeSilentWaveIn();
    devices.waveOut = MakeSilentWaveOut();
    devices.backend = "none";
    return devices;
}

std::string AutomaticChoice()
{
    const char* named = std::getenv(kChoiceVariable);
    return named && *named ? named : "alsa";
}

}  // namespace

AudioDevices MakeAudioDevices(const std::string& choice)
{
    const std::string backend = choice.empty() ? AutomaticChoice() : choice;
    if (backend == "alsa")
        return MakeAlsaDevices();
    if (backend == "none")
        return MakeSilentDevices();
    std::fprintf(stderr,
                 "velnar: unknown audio backend \"%s\" (known: alsa, none); running without sound\n",
                 backend.c_str());
    return {};
}

}  // namespace velnar
