// Internal records and process-wide state of the IAX library, and the
// functions its files share. Not for the library's users.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "iax/clock.h"
#include "iax/error.h"
#include "iax/iax.h"
#include "iax/jitter_buffer.h"
#include "iax/records.h"
#include "iax/socket.h"
#include "iax/timer.h"
#include "iax/wire.h"

// ---- state (one instance) ----
extern int IaxAdvertisedFormats;
extern int IaxNextCallNumber;
extern IaxSession* IaxSessionList;

// ---- sessions ----
IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate);
bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session);
void IaxDestroyAllSessions(void);
int IaxSessionCount(void);
uint32_t IaxTimestamp(IaxSession* session);

// ---- sending ----
int IaxQueueFrame(const IaxFrame* description);
int IaxTransmit(const IaxFrame* frame);
// Acknowledges a received full frame at once (never queued).
void IaxSendAck(IaxSession* session, const IaxFullHeader& received);

// ---- receiving ----
IaxEvent* IaxReadDatagram(void);
IaxEvent* IaxProcessDatagram(unsigned char* buffer, int lengthBytes, const sockaddr_in* from);
IaxEvent* IaxHandleMiniFrame(IaxSession* session, const IaxDatagram& datagram);
IaxEvent* IaxHandleFullFrame(IaxSession* session, const IaxDatagram& datagram);

// ---- events ----
IaxEvent* IaxFilterEvent(IaxEvent* event);
