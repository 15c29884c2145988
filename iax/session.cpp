// Layer: sessions. The session list and its matching rules, call numbers
// and outbound time stamps. Calls the timer list, the records, the clock
// and the socket (opening it seeds the call numbers).
#include <cstdlib>
#include <ctime>
#include <cstring>

#include "iax/clock.h"
#include "iax/error.h"
#include "iax/session.h"
#include "iax/socket.h"
#include "iax/timer.h"

IaxSession* IaxSessionList = nullptr;
int IaxNextCallNumber = 1;

int IaxOpenSocket(int port)
{
    int bound = IaxBindSocket(port);
    if (bound > 0) {
        srand(static_cast<unsigned>(time(nullptr)));
        IaxNextCallNumber = rand() % 32767 + 1;
    }
    return bound;
}

IaxSession* IaxNewSession(void)
{
    IaxSession* session = static_cast<IaxSession*>(calloc(1, sizeof(IaxSession)));
    if (!session) {
        IaxSetError("Out of memory\n");
        return nullptr;
    }
    session->retransmitBase = 30;
    session->lastRxVoiceFormat = -1;
    session->lastTxVoiceFormat = -1;
    session->peerCallNumber = -1;
    session->callNumber = IaxNextCallNumber;
    IaxNextCallNumber = IaxNextCallNumber >= 32767 ? 1 : IaxNextCallNumber + 1;
    session->next = IaxSessionList;
    IaxSessionList = session;
    return session;
}

int IaxSessionIsLive(IaxSession* session)
{
    if (!session)
        return 0;
    for (IaxSession* live = IaxSessionList; live; live = live->next)
        if (live == session)
            return 1;
    return 0;
}

void IaxDestroySession(IaxSession* session)
{
    IaxSession** link = &IaxSessionList;
    while (*link && *link != session)
        link = &(*link)->next;
    if (!*link)
        return;
    IaxForgetSession(session);
    *link = session->next;
    free(session);
}

void IaxDestroyAllSessions(void)
{
    while (IaxSessionList)
        IaxDestroySession(IaxSessionList);
}

uint32_t IaxTimestamp(IaxSession* session)
{
    if (session->txTimeBase.seconds == 0 && session->txTimeBase.microseconds == 0)
        session->txTimeBase = IaxClock();
    uint32_t candidate = static_cast<uint32_t>(IaxElapsedMs(session->txTimeBase, IaxClock()));
    if (candidate <= session->lastTxTimestamp)
        candidate = session->lastTxTimestamp + 1;
    session->lastTxTimestamp = candidate;
    return candidate;
}

int IaxSessionCount(void)
{
    int count = 0;
    for (IaxSession* session = IaxSessionList; session; session = session->next)
        ++count;
    return count;
}

namespace {

bool SameAddress(const sockaddr_in& a, const sockaddr_in* b)
{
    return a.sin_addr.s_addr == b->sin_addr.s_addr && a.sin_port == b->sin_port;
}

}  // namespace

bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session)
{
    if (SameAddress(session->peerAddress, from)) {
        int16_t peerCall = static_cast<int16_t>(session->peerCallNumber);
        if (sourceCall == peerCall || (destCall == session->callNumber && peerCall == -1)) {
            session->peerCallNumber = sourceCall;
            return true;
        }
    }
    return SameAddress(session->transferAddress, from) && session->transferState != 0 &&
           destCall == session->callNumber;
}

IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate)
{
    for (IaxSession* session = IaxSessionList; session; session = session->next)
        if (IaxSessionMatches(from, sourceCall, destCall, session))
            return session;
    if (!mayCreate || destCall != -1)
        return nullptr;
    IaxSession* session = IaxNewSession();
    if (!session)
        return nullptr;
    session->peerCallNumber = sourceCall;
    session->peerAddress.sin_family = AF_INET;
    session->peerAddress.sin_addr = from->sin_addr;
    session->peerAddress.sin_port = from->sin_port;
    return session;
}
