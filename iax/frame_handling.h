// Handling of received full frames: acknowledgement, session updates,
// automatic answers, and the event the frame yields.
#pragma once

#include "iax/iax.h"
#include "iax/wire.h"

// The event the frame yields now (owned by the caller), or null when it
// yields none, was parked in the jitter buffer or dropped. The byte behind
// the datagram's payload is NUL.
IaxEvent* IaxHandleFullFrame(IaxSession* session, const IaxDatagram& datagram);
