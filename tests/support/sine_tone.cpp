#include "tests/support/sine_tone.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace velnar::test {

std::vector<int16_t> SineSamples(double frequencyHz, size_t samples, double amplitude,
                                 size_t startSample)
{
    std::vector<int16_t> tone(samples);
    for (size_t i = 0; i < samples; ++i) {
        const double phase =
            2 * std::numbers::pi * frequencyHz * double(i + startSample) / kToneRateHz;
        tone[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
    }
    return tone;
}

std::vector<uint8_t> SineBytes(double frequencyHz, size_t samples, double amplitude,
                               size_t startSample)
{
    std::vector<uint8_t> pcm;
    pcm.reserve(samples * 2);
    for (int16_t value : SineSamples(frequencyHz, samples, amplitude, startSample)) {
        pcm.push_back(static_cast<uint8_t>(value & 0xFF));
        pcm.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    }
    return pcm;
}

bool AnyLouder(const uint8_t* pcm, size_t bytes, int level)
{
    for (size_t i = 0; i + 1 < bytes; i += 2)
        if (std::abs(int16_t(pcm[i] | (pcm[i + 1] << 8))) > level)
            return true;
    return false;
}

}  // namespace velnar::test
