// The capture noise gate's level: the mean absolute value of the buffer's
// bytes, each taken as a signed 8-bit value (not as 16-bit samples), so a
// level lies between 0 and 128. Other parties' settings files and thresholds
// are tuned to this byte-wise measure, so it stays as it is.
#pragma once

#include <cstdint>

namespace velnar {

inline uint32_t CaptureLevel(const uint8_t* bytes, uint32_t lengthBytes)
{
    if (lengthBytes == 0)
        return 0;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < lengthBytes; ++i) {
        int value = static_cast<int8_t>(bytes[i]);
        sum += static_cast<uint32_t>(value < 0 ? -value : value);
    }
    return sum / lengthBytes;
}

}  // namespace velnar
