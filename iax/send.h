// The send side: builds outbound frames (IaxSendEvent, public), queues them
// for retransmission and acknowledges received frames.
#pragma once

#include "iax/records.h"
#include "iax/wire.h"

extern int IaxAdvertisedFormats;

// Copies the frame, schedules its first retransmission check and sends it.
// The result of the send, or -1 when it could not be queued.
int IaxQueueFrame(const IaxFrame* description);
// One datagram with the frame's bytes (to the transfer address if flagged).
int IaxTransmit(const IaxFrame* frame);
// Acknowledges a received full frame at once (never queued).
void IaxSendAck(IaxSession* session, const IaxFullHeader& received);
