// The receive path: one datagram from the socket (or from a test) to at
// most one event, before the event filter.
#pragma once

#include <netinet/in.h>

#include "iax/iax.h"
#include "iax/wire.h"

// Reads one datagram from the socket; its event, or null.
IaxEvent* IaxReadDatagram(void);
// Runs given bytes through the same path as a datagram read from the socket.
IaxEvent* IaxReceiveBytes(const unsigned char* bytes, int lengthBytes, const sockaddr_in* from);
IaxEvent* IaxHandleMiniFrame(IaxSession* session, const IaxDatagram& datagram);
