#include "platform/audio_devices.h"

#include "platform/alsa/alsa_device_catalog.h"
#include "platform/alsa/alsa_mixer_device.h"
#include "platform/alsa/alsa_server_plugin.h"
#include "platform/alsa/alsa_wave_device.h"
#include "platform/pulse/pulse_context.h"
#include "platform/pulse/pulse_device_catalog.h"
#include "platform/pulse/pulse_mixer_device.h"
#include "platform/pulse/pulse_wave_device.h"
#include "platform/silent_wave_device.h"

#include <cstdio>
#include <cstdlib>

namespace velnar {

namespace {

constexpr const char* kChoiceVariable = "VELNAR_AUDIO";
constexpr const char* kAlsaDefaultPcm = "default";

AudioDevices MakeAlsaDevices()
{
    AudioDevices devices;
    devices.waveIn = MakeAlsaWaveIn();
    devices.waveOut = MakeAlsaWaveOut();
    devices.mixer = CreateAlsaMixerDevice();
    devices.catalog = MakeAlsaDeviceCatalog();
    devices.backend = "alsa";
    return devices;
}

// The sound server's own streams and volumes, all on one connection.
AudioDevices MakePulseDevices()
{
    AudioDevices devices;
    devices.waveIn = MakePulseWaveIn();
    devices.waveOut = MakePulseWaveOut();
    devices.mixer = CreatePulseMixerDevice();
    devices.catalog = MakePulseDeviceCatalog();
    devices.backend = "pulse";
    return devices;
}

// ALSA's default device may be nothing but the sound server's own plugin,
// which can hang the program for good when the server restarts during a call
// (alsa_server_plugin.h); the server's own streams do the same job safely.
AudioDevices MakeAlsaOrServerDevices()
{
    if (!AlsaPcmIsSoundServerPlugin(kAlsaDefaultPcm))
        return MakeAlsaDevices();
    std::fprintf(stderr,
                 "velnar: ALSA's default device is the sound server's own plugin; using the sound "
                 "server directly\n");
    return MakePulseDevices();
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
    if (named && *named)
        return named;
    return PulseContext::ServerAnswers() ? "pulse" : "alsa";
}

}  // namespace

AudioDevices MakeAudioDevices(const std::string& choice)
{
    // Held meanwhile, so that the connection that answered is the one the
    // devices use.
    const std::shared_ptr<PulseContext> server = PulseContext::Shared();
    const std::string backend = choice.empty() ? AutomaticChoice() : choice;
    if (backend == "alsa")
        return MakeAlsaOrServerDevices();
    if (backend == "pulse")
        return MakePulseDevices();
    if (backend == "none")
        return MakeSilentDevices();
    std::fprintf(
        stderr,
        "velnar: unknown audio backend \"%s\" (known: alsa, pulse, none); running without sound\n",
        backend.c_str());
    return {};
}

}  // namespace velnar
