// The library clock: milliseconds of the tick source plus IaxClockOffset.
// Bottom layer: calls nothing else of the library.
#pragma once

#include <cstdint>

struct IaxTime {
    int32_t seconds;
    int32_t microseconds;
};

IaxTime IaxClock(void);
uint32_t IaxTicks(void);
// Whole milliseconds from 'from' to 'to' (microsecond difference truncated).
int32_t IaxElapsedMs(IaxTime from, IaxTime to);
// The reading ms milliseconds before 'time' (microseconds kept in 0..999999).
IaxTime IaxTimeBefore(IaxTime time, uint32_t ms);
