// One block of received speech as the playback queue takes it, whatever
// codec and protocol brought it: 20 ms of 8000-Hz 16-bit little-endian mono
// PCM, and how loud it is, so that the queue can choose where a block may be
// left out unheard.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnar {

constexpr size_t kPlayoutBlockSamples = 160;
constexpr size_t kPlayoutBlockBytes = kPlayoutBlockSamples * 2;

struct PlayoutBlock {
    const uint8_t* pcm = nullptr;  // kPlayoutBlockBytes, borrowed
    uint32_t level = 0;            // mean absolute sample value, 0..32768

    // The block of those samples, its level measured.
    static PlayoutBlock Of(const uint8_t* pcm);
};

// Mean absolute value of the block's 160 samples.
uint32_t PlayoutBlockLevel(const uint8_t* pcm);

}  // namespace velnar
