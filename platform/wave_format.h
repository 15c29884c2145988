// The one sound format every wave device speaks: PCM, 8000 samples per
// second, 16-bit little-endian, mono, moved in 20-ms buffers and blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnar {

inline constexpr uint32_t kWaveRateHz = 8000;
inline constexpr uint32_t kWaveBytesPerFrame = 2;  // one 16-bit mono sample
inline constexpr uint32_t kWaveBytesPerMs = kWaveRateHz * kWaveBytesPerFrame / 1000;
// One capture buffer, one playback block.
inline constexpr uint32_t kWavePeriodMs = 20;
inline constexpr uint32_t kWavePeriodFrames = kWaveRateHz / 1000 * kWavePeriodMs;
inline constexpr uint32_t kWavePeriodBytes = kWavePeriodFrames * kWaveBytesPerFrame;

// The whole frames in `bytes`: an odd last byte is half a sample, which no
// device can record or play.
constexpr size_t WholeFrameBytes(size_t bytes)
{
    return bytes / kWaveBytesPerFrame * kWaveBytesPerFrame;
}

}  // namespace velnar
