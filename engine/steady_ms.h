// The engine's one clock for figures and arrival times: the monotonic clock
// in milliseconds, wrapping after 49 days like the libraries' tick counts.
#pragma once

#include <chrono>
#include <cstdint>

namespace velnar {

inline uint32_t SteadyMs()
{
    auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}

}  // namespace velnar
