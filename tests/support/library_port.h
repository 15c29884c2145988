// Where the protocol library listens, for peers that must reach it.
#pragma once

#include <cstdint>

namespace velnar::test {

// The UDP port the library's socket is bound to; 0 when it has none.
uint16_t LibraryPort();

}  // namespace velnar::test
