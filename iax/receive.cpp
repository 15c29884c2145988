// Layer: receive path. Reads a datagram, decodes it once, finds its session
// and hands it to the full-frame handler or makes a mini frame's voice
// event. Calls frame handling, the jitter buffer, the session list, the
// socket and the wire format.
#include "iax/receive.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "iax/error.h"
#include "iax/frame_handling.h"
#include "iax/jitter_buffer.h"
#include "iax/session.h"
#include "iax/socket.h"

namespace {

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

}  // namespace

IaxEvent* IaxHandleMiniFrame(IaxSession* session, const IaxDatagram& datagram)
{
    int voiceBytes = datagram.payloadBytes;
    if (session->lastRxVoiceFormat <= 0 || session->closing)
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
        memcpy(event->media.data, datagram.payload, static_cast<size_t>(voiceBytes));
        event->media.length = voiceBytes;
    }
    uint32_t timestamp = (session->lastRxTimestamp & 0xFFFF0000u) | datagram.mini.timestamp;
    return IaxJitterDeliver(event, timestamp);
}

namespace {

// Decodes the datagram in the receive buffer once and hands the decoded
// record to its handler.
IaxEvent* ProcessDatagram(unsigned char* buffer, int lengthBytes, const sockaddr_in* from)
{
    buffer[lengthBytes] = '\0';  // text payloads read as NUL-terminated strings
    IaxDatagram datagram;
    if (IaxDecodeDatagram(buffer, lengthBytes, &datagram) != 0)
        return ShortHeader(from);
    if (datagram.isFull) {
        // Only a NEW opens a session; any other frame that matches none is
        // dropped unanswered.
        bool isNew = datagram.full.frameType == FT_IAX &&
                     IaxExpandSubclass(datagram.full.subclass) == IAX_NEW;
        IaxSession* session = IaxFindSession(from, static_cast<int16_t>(datagram.full.sourceCall),
                                             static_cast<int16_t>(datagram.full.destCall), isNew);
        return session ? IaxHandleFullFrame(session, datagram) : nullptr;
    }
    IaxSession* session =
        IaxFindSession(from, static_cast<int16_t>(datagram.mini.sourceCall), 0, false);
    return session ? IaxHandleMiniFrame(session, datagram) : nullptr;
}

}  // namespace

IaxEvent* IaxReadDatagram(void)
{
    if (IaxSocket < 0)
        return nullptr;
    sockaddr_in from{};
    bool wouldBlock = false;
    int length = IaxReceiveDatagram(receiveBuffer, IaxMaxDatagramBytes, &from, &wouldBlock);
    if (length < 0 || wouldBlock)
        return nullptr;
    return ProcessDatagram(receiveBuffer, length, &from);
}

IaxEvent* IaxReceiveBytes(const unsigned char* bytes, int lengthBytes, const sockaddr_in* from)
{
    if (!from || lengthBytes < 0 || (!bytes && lengthBytes > 0))
        return nullptr;
    if (lengthBytes > IaxMaxDatagramBytes)
        lengthBytes = IaxMaxDatagramBytes;  // what the socket read would have kept
    if (lengthBytes > 0)
        memmove(receiveBuffer, bytes, static_cast<size_t>(lengthBytes));
    return ProcessDatagram(receiveBuffer, lengthBytes, from);
}
