// Layer: sessions. The session list, its lookup tables and matching rules,
// call numbers and outbound time stamps. Calls the timer list, the records,
// the clock, the socket and the random source (opening the socket draws the
// first call number).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "iax/clock.h"
#include "iax/error.h"
#include "iax/random_source.h"
#include "iax/session.h"
#include "iax/socket.h"
#include "iax/timer.h"

IaxSession* IaxSessionList = nullptr;
int IaxNextCallNumber = 1;

int IaxOpenSocket(int port)
{
    int bound = IaxBindSocket(port);
    if (bound > 0) {
        IaxNextCallNumber = IaxRandomCallNumber();
    }
    return bound;
}

namespace {

// Sessions are found through four hash tables with chains through the
// sessions themselves (no allocation, nothing to run out of):
// - every session by its peer address and the peer's call number;
// - sessions that do not know the peer's call number yet by their peer
//   address and their own call number;
// - sessions with a transfer under way by the transfer address and their own
//   call number;
// - every session by its address, to tell whether a pointer is live.
// A key can name several sessions; the newest (highest serial) wins, as the
// first match of a walk from the head of the list does.
constexpr int kBucketBits = 10;
IaxSession* buckets[IaxSessionIndexes][1 << kBucketBits];
int liveCount = 0;
unsigned char callNumberInUse[32768];
uint64_t nextSerial = 1;

uint64_t Key(const sockaddr_in& address, int callNumber)
{
    return (uint64_t(address.sin_addr.s_addr) << 32) | (uint64_t(address.sin_port) << 16) |
           uint16_t(callNumber);
}

IaxSession** Bucket(int index, uint64_t key)
{
    return &buckets[index][(key * 0x9E3779B97F4A7C15ull) >> (64 - kBucketBits)];
}

void Link(IaxSession* session, int index)
{
    IaxSession** head = Bucket(index, session->indexed.keys[index]);
    session->chained[index] = *head;
    *head = session;
    session->indexed.listed[index] = true;
}

void Unlink(IaxSession* session, int index)
{
    if (!session->indexed.listed[index])
        return;
    for (IaxSession** link = Bucket(index, session->indexed.keys[index]); *link;
         link = &(*link)->chained[index]) {
        if (*link == session) {
            *link = session->chained[index];
            break;
        }
    }
    session->indexed.listed[index] = false;
}

IaxSessionKeys KeysOf(IaxSession* session)
{
    IaxSessionKeys keys{};
    keys.keys[IaxByPeerCall] = Key(session->peerAddress, session->peerCallNumber);
    keys.listed[IaxByPeerCall] = true;
    keys.listed[IaxByOwnCall] = static_cast<int16_t>(session->peerCallNumber) == -1;
    if (keys.listed[IaxByOwnCall])
        keys.keys[IaxByOwnCall] = Key(session->peerAddress, session->callNumber);
    keys.listed[IaxByTransfer] = session->transferState != 0;
    if (keys.listed[IaxByTransfer])
        keys.keys[IaxByTransfer] = Key(session->transferAddress, session->callNumber);
    keys.keys[IaxByPointer] = reinterpret_cast<uintptr_t>(session);
    keys.listed[IaxByPointer] = true;
    return keys;
}

bool InBucket(const IaxSession* session, int index)
{
    for (IaxSession* listed = *Bucket(index, session->indexed.keys[index]); listed;
         listed = listed->chained[index])
        if (listed == session)
            return true;
    return false;
}

// The newest session listed under the key, or best if that is newer.
IaxSession* Newest(IaxSession* best, int index, uint64_t key)
{
    for (IaxSession* session = *Bucket(index, key); session; session = session->chained[index])
        if (session->indexed.keys[index] == key && (!best || session->serial > best->serial))
            best = session;
    return best;
}

bool SameAddress(const sockaddr_in& a, const sockaddr_in* b)
{
    return a.sin_addr.s_addr == b->sin_addr.s_addr && a.sin_port == b->sin_port;
}

}  // namespace

void IaxSessionUpdated(IaxSession* session)
{
    IaxSessionKeys keys = KeysOf(session);
    for (int index = 0; index < IaxByPointer; ++index) {
        if (keys.listed[index] == session->indexed.listed[index] &&
            keys.keys[index] == session->indexed.keys[index])
            continue;
        Unlink(session, index);
        session->indexed.keys[index] = keys.keys[index];
        if (keys.listed[index])
            Link(session, index);
    }
}

IaxSession* IaxNewSession(void)
{
    int number = IaxNextCallNumber;
    for (int tried = 1; callNumberInUse[number]; ++tried) {
        if (tried == 32767)
            return nullptr;  // every call number is taken
        number = number >= 32767 ? 1 : number + 1;
    }
    IaxSession* session = static_cast<IaxSession*>(calloc(1, sizeof(IaxSession)));
    if (!session) {
        IaxSetError("Out of memory\n");
        return nullptr;
    }
    session->retransmitBase = 30;
    session->lastRxVoiceFormat = -1;
    session->lastTxVoiceFormat = -1;
    session->peerCallNumber = -1;
    session->callNumber = number;
    callNumberInUse[number] = 1;
    IaxNextCallNumber = number >= 32767 ? 1 : number + 1;
    session->serial = nextSerial++;
    session->next = IaxSessionList;
    if (IaxSessionList)
        IaxSessionList->previous = session;
    IaxSessionList = session;
    ++liveCount;
    session->indexed = KeysOf(session);
    for (int index = 0; index < IaxSessionIndexes; ++index)
        if (session->indexed.listed[index])
            Link(session, index);
    return session;
}

namespace {

bool Listed(IaxSession* session)
{
    if (!session)
        return false;
    return Newest(nullptr, IaxByPointer, reinterpret_cast<uintptr_t>(session)) == session;
}

}  // namespace

// A closing session stays listed (its HANGUP's ACK must find it, and its
// call number stays taken) but is no longer live.
int IaxSessionIsLive(IaxSession* session)
{
    return Listed(session) && !session->closing;  // a dead pointer is not read
}

int IaxJitterBufferMs(IaxSession* session)
{
    return IaxSessionIsLive(session) ? session->jitterBuffer : -1;
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
    if (!Listed(session))
        return;
    IaxForgetSession(session);
    for (int index = 0; index < IaxSessionIndexes; ++index)
        Unlink(session, index);
    --liveCount;
    callNumberInUse[session->callNumber] = 0;
    if (session->previous)
        session->previous->next = session->next;
    else
        IaxSessionList = session->next;
    if (session->next)
        session->next->previous = session->previous;
    free(session);
}

void IaxDestroyAllSessions(void)
{
    while (IaxSessionList)
        IaxEndSession(IaxSessionList);
}

int IaxSessionCount(void)
{
    return liveCount;
}

int IaxClosingSessionCount(void)
{
    int count = 0;
    for (const IaxSession* session = IaxSessionList; session; session = session->next)
        count += session->closing ? 1 : 0;
    return count;
}

int IaxSessionIndexIsConsistent(void)
{
    int count = 0;
    for (IaxSession* session = IaxSessionList; session; session = session->next, ++count) {
        IaxSessionKeys keys = KeysOf(session);
        for (int index = 0; index < IaxSessionIndexes; ++index) {
            if (keys.listed[index] != session->indexed.listed[index])
                return 0;
            if (keys.listed[index] &&
                (keys.keys[index] != session->indexed.keys[index] || !InBucket(session, index)))
                return 0;
        }
    }
    return count == liveCount;
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

bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session)
{
    if (SameAddress(session->peerAddress, from)) {
        int16_t peerCall = static_cast<int16_t>(session->peerCallNumber);
        if (sourceCall == peerCall || (destCall == session->callNumber && peerCall == -1)) {
            session->peerCallNumber = sourceCall;
            if (Listed(session))
                IaxSessionUpdated(session);
            return true;
        }
    }
    return SameAddress(session->transferAddress, from) && session->transferState != 0 &&
           destCall == session->callNumber;
}

// The newest session that one of the three rules names; on a match by the
// peer address the session learns the peer's call number.
IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate)
{
    IaxSession* found = Newest(nullptr, IaxByPeerCall, Key(*from, sourceCall));
    found = Newest(found, IaxByOwnCall, Key(*from, destCall));
    found = Newest(found, IaxByTransfer, Key(*from, destCall));
    if (found && IaxSessionMatches(from, sourceCall, destCall, found))
        return found;
    if (!mayCreate || destCall != -1 || IaxSessionCount() >= IaxMaxLiveSessions)
        return nullptr;
    IaxSession* session = IaxNewSession();
    if (!session)
        return nullptr;
    session->peerCallNumber = sourceCall;
    session->peerAddress.sin_family = AF_INET;
    session->peerAddress.sin_addr = from->sin_addr;
    session->peerAddress.sin_port = from->sin_port;
    IaxSessionUpdated(session);
    return session;
}
