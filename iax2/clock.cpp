// Layer: bottom.
#include "iax2/clock.h"

#include <time.h>

namespace iax2 {

uint64_t MonotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
}

}  // namespace iax2
