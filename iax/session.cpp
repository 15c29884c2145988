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

namespace {

bool Listed(const IaxSession* session)
{
    for (IaxSession* listed = IaxSessionList; listed; listed = listed->next)
        if (listed == session)
            return true;
    return false;
}

// A closing session keeps its number until it ends: a late frame of its
// peer must not reach a new call.
bool CallNumberInUse(int number)
{
    for (IaxSession* session = IaxSessionList; session; session = session->next)
        if (session->callNumber == number)
            return true;
    return false;
}

int NextCallNumber(int number)
{
    return number >= 32767 ? 1 : number + 1;
}

}  // namespace

IaxSession* IaxNewSession(void)
{
    for (int tried = 0; tried < 32767 && CallNumberInUse(IaxNextCallNumber); ++tried)
        IaxNextCallNumber = NextCallNumber(IaxNextCallNumber);
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
    IaxNextCallNumber = NextCallNumber(IaxNextCallNumber);
    session->next = IaxSessionList;
    IaxSessionList = session;
    return session;
}

int IaxSessionIsLive(IaxSession* session)
{
    return session && Listed(session) && !session->closing;   // a dead pointer is not read
}

void IaxDestroySession(IaxSession* session)
{
    if (IaxSessionIsLive(session))
        IaxEndSession(session);
}

void IaxCloseSession(IaxSession* session)
{
    IaxForgetSession(session);
    session->closing = 1;
}

void IaxEndSession(IaxSession* session)
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
        IaxEndSession(IaxSessionList);
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
