// Waiting for a peer's frames while the engine's event loop keeps running:
// the peer's own Expect calls block the thread, and the engine answers only
// from the loop.
#pragma once

#include "tests/support/iax_test_peer.h"

#include <optional>

namespace velnar::test {

std::optional<iaxpeer::PeerFrame> AwaitFull(iaxpeer::IaxTestPeer& peer, uint8_t type,
                                            uint32_t subclass, int maxWaitMs = 3000);
std::optional<iaxpeer::PeerFrame> AwaitIax(iaxpeer::IaxTestPeer& peer, uint32_t message,
                                           int maxWaitMs = 3000);
std::optional<iaxpeer::PeerFrame> AwaitVoice(iaxpeer::IaxTestPeer& peer, int maxWaitMs = 3000);
std::optional<iaxpeer::PeerFrame> AwaitAck(iaxpeer::IaxTestPeer& peer,
                                           const iaxpeer::FullHeader& sent, int maxWaitMs = 3000);

}  // namespace velnar::test
