// The session list: finding the session of a datagram, creating and
// destroying sessions, and each session's outbound time stamps.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "iax/records.h"

extern int IaxNextCallNumber;
extern IaxSession* IaxSessionList;   // newest first

// The session of a datagram (peer address and call numbers), or, with
// mayCreate, a new one for an unknown peer that names call number 0xFFFF.
IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate);
// Whether the datagram belongs to the session; may learn the peer's number.
bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session);
void IaxDestroyAllSessions(void);
int IaxSessionCount(void);
// The session's next outbound time stamp (ms, strictly increasing, >= 1).
uint32_t IaxTimestamp(IaxSession* session);
