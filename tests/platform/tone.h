// Test tones and their analysis: 8000-Hz 16-bit mono PCM as little-endian
// bytes, as the wave devices move it.
#pragma once

#include "tests/support/sine_tone.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velnar::test {

constexpr double kRateHz = 8000.0;

std::vector<int16_t> ToSamples(std::span<const uint8_t> bytes);

// Root-mean-square level of the samples.
double Rms(std::span<const int16_t> samples);

// Power of the samples at one frequency (Goertzel), normalised so that a
// full-scale sine at that frequency gives about 0.25 and silence 0.
double PowerAt(std::span<const int16_t> samples, double frequencyHz);

// Frequency estimated from the rate of sign changes.
double ZeroCrossingFrequencyHz(std::span<const int16_t> samples);

// Index of the first sample of the first run of `runSamples` samples whose
// RMS exceeds `level`, or samples.size() if there is none.
size_t FindLoudRun(std::span<const int16_t> samples, size_t runSamples, double level);

}  // namespace velnar::test
