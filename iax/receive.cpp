#include <arpa/inet.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "iax/session.h"

int IaxJitterBufferEnabled = 1;

namespace {

constexpr int kDiscardedPeaks = 3;
constexpr int kShrinkThresholdMs = 50;
constexpr int kShrinkStepMs = 2;
constexpr int kMaximumSpreadMs = 4000;
constexpr int kLatenessToleranceMs = 3;
constexpr int32_t kStartingMaximum = -99999999;

// One byte more than the largest datagram, so the NUL written behind a
// payload of the full 65536 bytes stays inside.
unsigned char receiveBuffer[IaxMaxDatagramBytes + 1];

IaxEvent* ShortHeader(const sockaddr_in* from)
{
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from->sin_addr, dotted, sizeof dotted);
    IaxSetError("Short header received from %s\n", dotted);
    return nullptr;
}

// Smallest delay, and the target: the 4th largest delay, duplicates
// counted, found among values above the starting maximum (so it stays the
// starting maximum when fewer than four delays exceed it). Equal to four
// passes that each take the largest value not yet chosen, in one pass.
void ScanHistory(const int32_t* history, int32_t* smallest, int32_t* target)
{
    int32_t largest[kDiscardedPeaks + 1];
    for (int32_t& value : largest)
        value = kStartingMaximum;
    int32_t low = history[0];
    for (int i = 0; i < IaxDelayHistoryLength; ++i) {
        int32_t delay = history[i];
        if (delay < low)
            low = delay;
        if (delay <= largest[kDiscardedPeaks])
            continue;
        int slot = kDiscardedPeaks;
        while (slot > 0 && delay > largest[slot - 1]) {
            largest[slot] = largest[slot - 1];
            --slot;
        }
        largest[slot] = delay;
    }
    *smallest = low;
    *target = largest[kDiscardedPeaks];
}

int32_t Clamp32(int64_t value)
{
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : int32_t(value);
}

void DropEvent(IaxEvent* event)
{
    IaxFreeEvent(event);
}

}  // namespace

IaxEvent* IaxJitterDeliver(IaxEvent* event, uint32_t timestamp)
{
    IaxSession* session = event->session;
    IaxTime now = IaxClock();
    if (session->rxTimeBase.seconds == 0 && session->rxTimeBase.microseconds == 0)
        session->rxTimeBase = now;
    int32_t arrival = IaxElapsedMs(session->rxTimeBase, now);
    // Modular difference: peer time stamps can be anything.
    int32_t delay = static_cast<int32_t>(static_cast<uint32_t>(arrival) - timestamp);
    if (delay > 32768)
        delay -= 65536;
    else if (delay < -32768)
        delay += 65536;

    int32_t* history = session->delayHistory;
    memmove(history, history + 1, (IaxDelayHistoryLength - 1) * sizeof *history);
    history[IaxDelayHistoryLength - 1] = delay;

    // 64-bit arithmetic: hostile time stamps make delays span the whole
    // 32-bit range, and their differences must not overflow.
    int32_t lowest = 0;
    int32_t fourthLargest = 0;
    ScanHistory(history, &lowest, &fourthLargest);
    int64_t smallest = lowest;
    int64_t target = fourthLargest;
    session->jitter = Clamp32(target - smallest);
    if (target < int64_t(session->jitterBuffer) - kShrinkThresholdMs)
        session->jitterBuffer -= kShrinkStepMs;
    if (target > smallest + kMaximumSpreadMs)
        target = smallest + kMaximumSpreadMs;
    if (target > session->jitterBuffer)
        session->jitterBuffer = Clamp32(target);

    if (!IaxJitterBufferEnabled)
        return event;
    int64_t waitMs = int64_t(session->jitterBuffer) - delay;
    if (waitMs >= 1) {
        // Never park longer than the buffer's own maximum spread: a playout
        // delay left over from wild earlier delays would otherwise hold
        // events (and their memory) for days.
        if (waitMs > kMaximumSpreadMs)
            waitMs = kMaximumSpreadMs;
        if (IaxSchedule(event, nullptr, static_cast<int>(waitMs)) != 0)
            DropEvent(event);
        return nullptr;
    }
    if (waitMs >= -kLatenessToleranceMs || event->type != EvVoice)
        return event;
    DropEvent(event);
    return nullptr;
}

IaxEvent* IaxHandleMiniFrame(IaxSession* session, const unsigned char* frame, int voiceBytes)
{
    if (session->lastRxVoiceFormat <= 0)
        return nullptr;
    // Only the header and the media fields are set; mini frames are the
    // voice path and come every 20 ms.
    IaxEvent* event = static_cast<IaxEvent*>(malloc(sizeof(IaxEvent)));
    if (!event)
        return nullptr;
    memset(event, 0, offsetof(IaxEvent, media) + sizeof event->media);
    event->type = EvVoice;
    event->session = session;
    event->media.format = session->lastRxVoiceFormat;
    if (voiceBytes > 0) {
        event->media.data = static_cast<unsigned char*>(malloc(static_cast<size_t>(voiceBytes)));
        if (!event->media.data) {
            free(event);
            return nullptr;
        }
        memcpy(event->media.data, frame + IaxMiniHeaderBytes, static_cast<size_t>(voiceBytes));
        event->media.length = voiceBytes;
    }
    uint32_t timestamp = (session->lastRxTimestamp & 0xFFFF0000u) | IaxGet16(frame + 2);
    return IaxJitterDeliver(event, timestamp);
}

IaxEvent* IaxProcessDatagram(unsigned char* buffer, int lengthBytes, const sockaddr_in* from)
{
    buffer[lengthBytes] = '\0';
    if (IaxIsFullFrame(buffer, lengthBytes)) {
        IaxFullHeader header;
        if (IaxDecodeFullHeader(buffer, lengthBytes, &header) != 0)
            return ShortHeader(from);
        IaxSession* session = IaxFindSession(from, static_cast<int16_t>(header.sourceCall),
                                             static_cast<int16_t>(header.destCall), true);
        if (!session)
            return nullptr;
        return IaxHandleFullFrame(session, buffer, lengthBytes - IaxFullHeaderBytes);
    }
    IaxMiniHeader header;
    if (IaxDecodeMiniHeader(buffer, lengthBytes, &header) != 0)
        return ShortHeader(from);
    IaxSession* session = IaxFindSession(from, static_cast<int16_t>(header.sourceCall), 0, false);
    if (!session)
        return nullptr;
    return IaxHandleMiniFrame(session, buffer, lengthBytes - IaxMiniHeaderBytes);
}

IaxEvent* IaxReadDatagram(void)
{
    if (IaxSocket < 0)
        return nullptr;
    sockaddr_in from{};
    bool wouldBlock = false;
    int length = IaxReceiveDatagram(receiveBuffer, IaxMaxDatagramBytes, &from, &wouldBlock);
    if (length < 0 || wouldBlock)
        return nullptr;
    return IaxProcessDatagram(receiveBuffer, length, &from);
}

IaxEvent* IaxHandleDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* from)
{
    if (!from || lengthBytes < 0 || (!bytes && lengthBytes > 0))
        return nullptr;
    if (lengthBytes > IaxMaxDatagramBytes)
        lengthBytes = IaxMaxDatagramBytes;   // what the socket read would have kept
    if (lengthBytes > 0)
        memmove(receiveBuffer, bytes, static_cast<size_t>(lengthBytes));
    return IaxFilterEvent(IaxProcessDatagram(receiveBuffer, lengthBytes, from));
}
