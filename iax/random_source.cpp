// Layer: bottom. Draws from the kernel's random source; calls nothing else of
// the library.
#include "iax/random_source.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace {

// 16 random bits, or false when the kernel cannot give them now (its pool
// not yet seeded early at boot, or a kernel without the call).
bool KernelRandom16(uint16_t* value)
{
    for (;;) {
        ssize_t got = getrandom(value, sizeof *value, GRND_NONBLOCK);
        if (got == static_cast<ssize_t>(sizeof *value))
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// Used only when the kernel has nothing to give: the nanosecond clock and the
// process id still differ between two phones started in the same second.
uint16_t ClockAndProcess16()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mixed = (uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 30)) * 0x9E3779B97F4A7C15ull;
    mixed ^= uint64_t(getpid()) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<uint16_t>(mixed >> 48);
}

}  // namespace

// 15 bits hold 0..32767; rejecting 0 keeps the other numbers equally likely.
int IaxRandomCallNumber(void)
{
    for (;;) {
        uint16_t bits = 0;
        if (!KernelRandom16(&bits))
            bits = ClockAndProcess16();
        int number = bits & 0x7FFF;
        if (number != 0)
            return number;
    }
}
