// The one place that picks the real sound devices. Programs call it once at
// start-up and hand the devices down (the wave pair to the phone engine, the
// mixer to the volume faders); nothing below the program makes devices of
// its own, so tests and tools can hand in others.
#pragma once

#include "platform/device_choice.h"

#include <string>

namespace velnar {

// choice: "alsa" for ALSA's "default" PCM and mixer, unless that PCM is the
// sound server's own plugin: then, said once on standard error, the sound
// server's own devices as for "pulse"; "pulse" for the sound
// server's own streams and volumes (pulse_wave_device.h,
// pulse_mixer_device.h); "none" for the silent wave pair
// (silent_wave_device.h) and no mixer; "" picks automatically: the backend
// named by the environment variable VELNAR_AUDIO if it is set, else the
// sound server if one answers within a short wait, else ALSA. A backend this build does not know
// gives no devices (the engine then runs without sound, the faders stay disabled) and one line on
// standard error naming it. Nothing is opened here but the connection to
// the sound server that the automatic choice tries (kept for the devices):
// the devices open when they are first used.
AudioDevices MakeAudioDevices(const std::string& choice = {});

}  // namespace velnar
