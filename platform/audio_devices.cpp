#include "platform/audio_devices.h"

#include "platform/alsa_mixer_device.h"
#include "platform/alsa_wave_device.h"

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
    std::fprintf(stderr, "velnar: unknown audio backend \"%s\" (known: alsa); running without sound\n",
                 backend.c_str());
    return {};
}

}  // namespace velnar
