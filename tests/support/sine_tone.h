// Sine tones at the phone's rate (8000 samples per second, 16-bit), as
// samples and as the little-endian bytes the wave devices move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velnar::test {

constexpr int kToneRateHz = 8000;

// startSample continues an earlier stretch of the same tone without a jump.
std::vector<int16_t> SineSamples(double frequencyHz, size_t samples, double amplitude,
                                 size_t startSample = 0);
std::vector<uint8_t> SineBytes(double frequencyHz, size_t samples, double amplitude,
                               size_t startSample = 0);
// Whether any sample of little-endian PCM is louder than the level.
bool AnyLouder(const uint8_t* pcm, size_t bytes, int level);

}  // namespace velnar::test
