#include "tone.h"

#include <cmath>
#include <numbers>

namespace velnar::test {

std::vector<int16_t> ToSamples(std::span<const uint8_t> bytes)
{
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

double Rms(std::span<const int16_t> samples)
{
    if (samples.empty())
        return 0;
    double sum = 0;
    for (int16_t s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / double(samples.size()));
}

double PowerAt(std::span<const int16_t> samples, double frequencyHz)
{
    if (samples.empty())
        return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequencyHz / kRateHz);
    double previous = 0;
    double beforePrevious = 0;
    for (int16_t s : samples) {
        const double current = s / 32768.0 + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    const double n = double(samples.size());
    return power / (n * n);
}

double ZeroCrossingFrequencyHz(std::span<const int16_t> samples)
{
    size_t crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    // Two sign changes per period.
    return samples.size() < 2 ? 0 : double(crossings) / 2 * kRateHz / double(samples.size() - 1);
}

size_t FindLoudRun(std::span<const int16_t> samples, size_t runSamples, double level)
{
    for (size_t start = 0; start + runSamples <= samples.size(); start += runSamples / 4 + 1)
        if (Rms(samples.subspan(start, runSamples)) > level)
            return start;
    return samples.size();
}

}  // namespace velnar::test
