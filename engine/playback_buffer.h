// One 20-ms block of PCM handed to the wave-out device; freed once played.
#pragma once

#include "engine/playout_block.h"
#include "platform/wave_device.h"

namespace velnar {

struct PlaybackBuffer {
    WaveHeader header;
    uint8_t samples[kPlayoutBlockBytes] = {};
    PlaybackBuffer* next = nullptr;
};

}  // namespace velnar
