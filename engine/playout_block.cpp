#include "engine/playout_block.h"

#include <cstdlib>

namespace velnar {

uint32_t PlayoutBlockLevel(const uint8_t* pcm)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < kPlayoutBlockBytes; i += 2)
        sum += uint32_t(std::abs(int(int16_t(uint16_t(pcm[i] | (pcm[i + 1] << 8))))));
    return sum / kPlayoutBlockSamples;
}

PlayoutBlock PlayoutBlock::Of(const uint8_t* pcm)
{
    return {pcm, PlayoutBlockLevel(pcm)};
}

}  // namespace velnar
