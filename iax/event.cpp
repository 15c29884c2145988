// Layer: events (top of the inbound side). IaxNextEvent services due timer
// entries and reads one datagram; every event passes the filter before it is
// handed out. Calls the receive path, the send side, the timer list, the
// session list and the records.
#include <cstdio>
#include <cstdlib>

#include "iax/clock.h"
#include "iax/event.h"
#include "iax/jitter_buffer.h"
#include "iax/receive.h"
#include "iax/send.h"
#include "iax/session.h"
#include "iax/socket.h"
#include "iax/testing.h"
#include "iax/timer.h"

IaxEvent* IaxFilterEvent(IaxEvent* event)
{
    if (!event)
        return nullptr;
    if (!IaxSessionIsLive(event->session)) {
        IaxFreeEvent(event);
        return nullptr;
    }
    switch (event->type) {
    case EvHangup:
    case EvReject:
    case EvRegisterReply: IaxDestroySession(event->session); return event;
    case EvLagRequest:
    case EvPing:
        event->type = event->type == EvPing ? EvPong : EvLagReply;
        IaxSendEvent(event->session, event);
        IaxFreeEvent(event);
        return nullptr;
    default: return event;
    }
}

namespace {

// Outcome of one due timer entry.
enum class Due { Continue, Return, StopTimers };

Due HandleFrameEntry(IaxFrame* frame, IaxEvent** result)
{
    if (frame->retriesLeft < 0) {
        IaxFreeFrame(frame);
        return Due::Continue;
    }
    if (frame->retriesLeft > 0) {
        --frame->retriesLeft;
        frame->retryInterval *= 4;
        int cap = frame->viaTransfer ? 1000 : 10000;
        if (frame->retryInterval > cap)
            frame->retryInterval = cap;
        IaxTransmit(frame);
        fprintf(IaxDiagnosticStream(), "Scheduling retransmission %d\n", frame->retriesLeft);
        if (IaxSchedule(nullptr, frame, frame->retryInterval) != 0)
            IaxFreeFrame(frame);
        return Due::Continue;
    }
    IaxSession* session = frame->session;
    bool viaTransfer = frame->viaTransfer != 0;
    IaxFreeFrame(frame);
    if (session && session->closing) {  // a HANGUP never acknowledged: given up quietly
        IaxEndSession(session);
        return Due::Continue;
    }
    if (viaTransfer) {
        IaxEvent request{};
        request.type = EvTransferReject;
        IaxSendEvent(session, &request);
        return Due::StopTimers;
    }
    IaxEvent* timeout = IaxNewEvent();
    if (!timeout)
        return Due::Continue;
    timeout->type = EvTimeout;
    timeout->session = session;
    *result = IaxFilterEvent(timeout);
    return *result ? Due::Return : Due::Continue;
}

}  // namespace

IaxEvent* IaxNextEvent(int blocking)
{
    IaxTime now = IaxClock();
    while (IaxTimerEntry* entry = IaxTakeDue(now)) {
        IaxEvent* event = entry->event;
        IaxFrame* frame = entry->frame;
        free(entry);
        if (event) {
            if ((event = IaxFilterEvent(event)))
                return event;
            continue;
        }
        IaxEvent* result = nullptr;
        Due outcome = HandleFrameEntry(frame, &result);
        if (outcome == Due::Return)
            return result;
        if (outcome == Due::StopTimers)
            break;
    }
    if (blocking && IaxWaitReadable() != 0)
        return nullptr;
    return IaxFilterEvent(IaxReadDatagram());
}

IaxEvent* IaxHandleDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* from)
{
    return IaxFilterEvent(IaxReceiveBytes(bytes, lengthBytes, from));
}

void IaxResetForTesting(void)
{
    IaxClearTimers();
    IaxDestroyAllSessions();
    IaxCloseSocket();
    IaxSetTickSource(nullptr);
    IaxNextCallNumber = 1;
    IaxAdvertisedFormats = 0;
    IaxMaxRetries = 10;
    IaxClockOffset = 0;
    IaxSetEarlyServeMs(0);
    IaxJitterBufferEnabled = 1;
    IaxLastError[0] = '\0';
    IaxSetDiagnosticStream(nullptr);
    IaxSetSendHookForTesting(nullptr);
}
