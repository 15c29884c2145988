// The millisecond clock an endpoint reads: the monotonic system clock unless
// a test injects its own. Layer: bottom.
#pragma once

#include <cstdint>
#include <functional>

namespace iax2 {

using Clock = std::function<uint64_t()>;  // monotonic milliseconds

uint64_t MonotonicMs();

}  // namespace iax2
