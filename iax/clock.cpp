// Layer: bottom. The library clock and its replaceable tick source.
#include <time.h>

#include "iax/clock.h"
#include "iax/iax.h"

int IaxClockOffset = 0;

namespace {

uint32_t MonotonicTicks(void)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

uint32_t (*tickSource)(void) = MonotonicTicks;

}  // namespace

void IaxSetTickSource(uint32_t (*ticks)(void))
{
    tickSource = ticks ? ticks : MonotonicTicks;
}

uint32_t IaxTicks(void)
{
    return tickSource();
}

IaxTime IaxClock(void)
{
    // 64 bits so that an offset near the end of the day cannot overflow.
    int64_t ms = int64_t(IaxTicks()) + IaxClockOffset;
    IaxTime now;
    now.seconds = static_cast<int32_t>(ms / 1000);
    now.microseconds = static_cast<int32_t>((ms % 1000) * 1000);
    return now;
}

int32_t IaxElapsedMs(IaxTime from, IaxTime to)
{
    int64_t ms = (int64_t(to.microseconds) - from.microseconds) / 1000 +
                 (int64_t(to.seconds) - from.seconds) * 1000;
    return static_cast<int32_t>(ms);
}

IaxTime IaxTimeBefore(IaxTime time, uint32_t ms)
{
    int64_t total = int64_t(time.seconds) * 1000 + time.microseconds / 1000 - int64_t(ms);
    int64_t seconds = total / 1000;
    int64_t rest = total % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    return IaxTime{static_cast<int32_t>(seconds), static_cast<int32_t>(rest * 1000)};
}
