// The session list: finding the session of a datagram, creating and
// destroying sessions, and each session's outbound time stamps.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "iax/records.h"

extern int IaxNextCallNumber;
extern IaxSession* IaxSessionList;  // newest first

// Live sessions at most: a datagram that would make one more (a stranger's
// NEW) is dropped without a reply.
constexpr int IaxMaxLiveSessions = 64;

// The session of a datagram (peer address and call numbers), found through
// lookup tables rather than a walk, or, with mayCreate, a new one for an
// unknown peer that names call number 0xFFFF while fewer than
// IaxMaxLiveSessions are live.
IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate);
// Whether the datagram belongs to the session; may learn the peer's number.
bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session);
// To be called after the peer address, the peer's call number, the transfer
// address or the transfer state of a live session changed, so that the
// lookup tables follow.
void IaxSessionUpdated(IaxSession* session);
// Ends a listed session whatever its state (IaxDestroySession leaves a
// closing one to the library).
void IaxEndSession(IaxSession* session);
// Keeps a hung-up session only to resend its HANGUP (queued next): its other
// frames are finished, its parked events freed, and it is no longer live.
void IaxCloseSession(IaxSession* session);
void IaxDestroyAllSessions(void);
int IaxSessionCount(void);
// The session's next outbound time stamp (ms, strictly increasing, >= 1).
uint32_t IaxTimestamp(IaxSession* session);
