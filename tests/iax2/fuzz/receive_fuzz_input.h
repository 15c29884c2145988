// The input layout of the version-2 receive-path fuzz target, shared with
// its seed generator: records of
//   [flags][clock step, 10 ms units][length, 2 octets big-endian][datagram]
// flags bit 0: the datagram comes from a stranger instead of the exchange;
// bit 1: the user acts on the call afterwards (voice, a digit, an answer).
#pragma once

#include <cstdint>

namespace fuzz2 {

constexpr uint16_t kRegistrationCall = 0x0101;  // the endpoint's first number
constexpr uint16_t kOutgoingCall = 0x0102;      // its second
constexpr uint16_t kExchangeCall = 0x2B67;
constexpr uint8_t kFromStranger = 0x01;
constexpr uint8_t kUserActs = 0x02;

}  // namespace fuzz2
