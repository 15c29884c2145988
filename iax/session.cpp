#include <cstdlib>
#include <cstring>

#include "iax/session.h"

IaxSession* IaxSessionList = nullptr;
int IaxNextCallNumber = 1;

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

namespace {

// Frames of the session stay (finished, freed unsent when due); its parked
// events go at once.
void ForgetTimerEntries(IaxSession* session)
{
    IaxTimerEntry** link = &IaxTimerList;
    while (*link) {
        IaxTimerEntry* entry = *link;
        if (entry->frame && entry->frame->session == session) {
            entry->frame->retriesLeft = -1;
            entry->frame->session = nullptr;
        } else if (entry->event && entry->event->session == session) {
            *link = entry->next;
            IaxFreeEvent(entry->event);
            free(entry);
            continue;
        }
        link = &entry->next;
    }
}

}  // namespace

void IaxDestroySession(IaxSession* session)
{
    IaxSession** link = &IaxSessionList;
    while (*link && *link != session)
        link = &(*link)->next;
    if (!*link)
        return;
    ForgetTimerEntries(session);
    *link = session->next;
    free(session);
}

void IaxDestroyAllSessions(void)
{
    while (IaxSessionList)
        IaxDestroySession(IaxSessionList);
}

int IaxSessionCount(void)
{
    int count = 0;
    for (IaxSession* session = IaxSessionList; session; session = session->next)
        ++count;
    return count;
}

void IaxFinishFrames(bool (*matches)(const IaxFrame* frame, const void* context),
                     const void* context)
{
    for (IaxTimerEntry* entry = IaxTimerList; entry; entry = entry->next)
        if (entry->frame && matches(entry->frame, context))
            entry->frame->retriesLeft = -1;
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
