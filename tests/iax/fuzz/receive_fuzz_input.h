// Layout of one input of the receive-path fuzz target, shared by the target
// and the seed generator.
//
//   byte 0      set-up: bit 0 a call in progress, bit 1 also a transfer
//               under way (needs bit 0); bits 2..7 times 7 = fake
//               milliseconds that pass after each datagram
//   then        records: a 16-bit big-endian header, then the datagram.
//               Header bit 15 set: the datagram comes from the transfer
//               peer instead of the call's peer; bits 14..0: its length
//               (a record longer than what is left takes the rest)
#pragma once

#include <cstdint>

namespace receivefuzz {

constexpr uint8_t kCallInProgress = 1;
constexpr uint8_t kTransferUnderWay = 2;
constexpr int kStepUnitMs = 7;
constexpr uint16_t kFromTransferPeer = 0x8000;

// The far ends, as the set-up creates them.
constexpr uint32_t kPeerAddress = 0x7F000001;  // 127.0.0.1
constexpr uint16_t kPeerPort = 4569;
constexpr uint32_t kTransferAddress = 0x7F000002;  // 127.0.0.2
constexpr uint16_t kTransferPort = 4570;
constexpr uint16_t kPeerCall = 0x1234;
constexpr uint16_t kTransferCall = 77;
// The library's call number of the set-up call (the first after a reset).
constexpr uint16_t kOurCall = 1;

}  // namespace receivefuzz
