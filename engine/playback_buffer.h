// One decoded 20-ms block handed to the wave-out device; freed once played.
#pragma once

#include "engine/gsm_codec.h"
#include "platform/wave_device.h"

namespace velnar {

struct PlaybackBuffer {
    WaveHeader header;
    uint8_t samples[kPcmFrameBytes] = {};
    PlaybackBuffer* next = nullptr;
};

}  // namespace velnar
