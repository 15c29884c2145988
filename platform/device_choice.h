// The sound devices a program runs with, as its start-up chose them: the
// wave pair goes to the phone engine, the mixer to the volume faders. Made
// by the device picker (audio_devices.h) or, in tests and tools, by hand.
#pragma once

#include "platform/device_catalog.h"
#include "platform/mixer_device.h"
#include "platform/wave_device.h"

#include <memory>
#include <string>

namespace velnar {

struct AudioDevices {
    std::unique_ptr<WaveIn> waveIn;
    std::unique_ptr<WaveOut> waveOut;
    std::shared_ptr<MixerDevice> mixer;
    // The devices the wave pair can be switched to; null without a backend.
    std::shared_ptr<DeviceCatalog> catalog;
    // The backend the devices belong to ("alsa", "pulse", "none"); empty when none
    // was made.
    std::string backend;
};

}  // namespace velnar
