// Hooks for tests and fuzzers: feed datagram bytes through the receive path
// without a socket, and reset all library state between runs.
//
// - IaxHandleDatagram: runs the bytes through exactly the path a datagram
//   read from the socket takes (header checks, session matching or creation,
//   acknowledgement, jitter buffer, event filter). Replies (ACKs, PONGs ...)
//   go out through the socket when one is open and are skipped otherwise.
//   Returns the event the datagram yields now (owned by the caller), or null.
// - IaxResetForTesting: destroys every session, frees the timer list with its
//   frames and events, closes the socket, restores the tick source and the
//   counters (next call number 1, formats 0, IaxMaxRetries 10,
//   IaxClockOffset 0, no early serving, IaxLastError empty, diagnostics to
//   standard output, no send hook).
// - The internal records (IaxSession fields) are in iax/records.h; this
//   header gives tests every layer's internal functions.
#pragma once

#include <netinet/in.h>

#include "iax/clock.h"
#include "iax/error.h"
#include "iax/event.h"
#include "iax/frame_handling.h"
#include "iax/iax.h"
#include "iax/jitter_buffer.h"
#include "iax/receive.h"
#include "iax/records.h"
#include "iax/send.h"
#include "iax/session.h"
#include "iax/socket.h"
#include "iax/timer.h"
#include "iax/wire.h"

IaxEvent* IaxHandleDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* from);
void IaxResetForTesting(void);
// IaxSetSendHookForTesting (iax/socket.h) diverts what would be sent.
// Entries in the timer list and live sessions, to check for unbounded growth.
int IaxTimerCount(void);
int IaxSessionCount(void);
// 1 when every live session is listed in the lookup tables under the keys
// its fields give (each change of address or call number was followed by
// IaxSessionUpdated), else 0.
int IaxSessionIndexIsConsistent(void);
