// Conversion between a sound card's raw volume range (rawMin..rawMax, any
// width) and the mixer control's 0..65535 values with a step count the raw
// range allows. Every step of the control is a whole number of units
// (65535 / steps), so that a value written and read back lands on the same
// step: exactly the written value when it was a step, else the nearest step.
#pragma once

#include <algorithm>
#include <cstdint>

namespace velnar {

inline constexpr uint32_t kMixerValueMax = 65535;

// Steps between the bounds: one per raw unit, at most 65535; 0 for an empty range.
constexpr uint32_t MixerStepCount(long rawMin, long rawMax)
{
    if (rawMax <= rawMin)
        return 0;
    const uint64_t rawSpan = static_cast<uint64_t>(rawMax - rawMin);
    return static_cast<uint32_t>(std::min<uint64_t>(rawSpan, kMixerValueMax));
}

constexpr uint32_t RawToMixerValue(long raw, long rawMin, long rawMax)
{
    const uint32_t steps = MixerStepCount(rawMin, rawMax);
    if (steps == 0)
        return 0;
    const uint64_t rawSpan = static_cast<uint64_t>(rawMax - rawMin);
    const uint64_t offset = static_cast<uint64_t>(std::clamp(raw, rawMin, rawMax) - rawMin);
    if (rawSpan <= kMixerValueMax)
        return static_cast<uint32_t>(offset * (kMixerValueMax / steps));
    return static_cast<uint32_t>((offset * kMixerValueMax + rawSpan / 2) / rawSpan);
}

constexpr long MixerValueToRaw(uint32_t value, long rawMin, long rawMax)
{
    const uint32_t steps = MixerStepCount(rawMin, rawMax);
    if (steps == 0)
        return rawMin;
    const uint64_t rawSpan = static_cast<uint64_t>(rawMax - rawMin);
    uint64_t offset;
    if (rawSpan <= kMixerValueMax) {
        const uint64_t stepUnits = kMixerValueMax / steps;
        offset = std::min<uint64_t>((value + stepUnits / 2) / stepUnits, rawSpan);
    } else {
        const uint64_t clamped = std::min<uint64_t>(value, kMixerValueMax);
        offset = (clamped * rawSpan + kMixerValueMax / 2) / kMixerValueMax;
    }
    return rawMin + static_cast<long>(offset);
}

}  // namespace velnar
