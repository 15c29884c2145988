// Layer: full-frame handling. Acknowledges a received full frame, updates
// its session, answers where the protocol answers by itself, and turns the
// rest into an event for the jitter buffer. Calls the jitter buffer, the
// send side, the session list, the timer list, the records and the wire
// format.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "iax/frame_handling.h"
#include "iax/jitter_buffer.h"
#include "iax/records.h"
#include "iax/send.h"
#include "iax/session.h"
#include "iax/timer.h"
#include "iax/wire.h"

namespace {

struct Received {
    IaxSession* session;
    const IaxFullHeader& header;
    const unsigned char* payload;  // NUL behind the payload
    int payloadBytes;
    int subclass;  // expanded
    const char* text() const { return reinterpret_cast<const char*>(payload); }
};

IaxEvent* Drop(IaxEvent* event)
{
    IaxFreeEvent(event);
    return nullptr;
}

IaxEvent* Jitter(IaxEvent* event, const Received& in)
{
    return IaxJitterDeliver(event, in.header.timestamp);
}

char* DottedAddress(const sockaddr_in& address)
{
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
    return strdup(dotted);
}

// Copy of the payload bytes into event->media; false when memory ran out.
bool CopyMedia(IaxEvent* event, const Received& in)
{
    event->media.format = in.subclass;
    if (in.payloadBytes <= 0)
        return true;
    event->media.data = static_cast<unsigned char*>(malloc(static_cast<size_t>(in.payloadBytes)));
    if (!event->media.data)
        return false;
    memcpy(event->media.data, in.payload, static_cast<size_t>(in.payloadBytes));
    event->media.length = in.payloadBytes;
    return true;
}

bool IsNotAcknowledged(const Received& in)
{
    if (in.header.frameType != FT_IAX)
        return false;
    switch (in.subclass) {
    case IAX_ACK:
    case IAX_REJECT:
    case IAX_INVAL:
    case IAX_TXCNT:
    case IAX_TXACC: return true;
    default: return false;
    }
}

// ACKs echo our own numbers; PONG, TXCNT and TXACC carry 0 by design.
bool CarriesNoSequence(const Received& in)
{
    if (in.header.frameType != FT_IAX)
        return false;
    switch (in.subclass) {
    case IAX_ACK:
    case IAX_PONG:
    case IAX_TXCNT:
    case IAX_TXACC: return true;
    default: return false;
    }
}

constexpr int kSequenceWindow = 64;

// Records the sequence number; true when the frame was handled already. A
// peer resends a frame whose ACK it lost, and frames arrive reordered, so
// the newest number and a window behind it are remembered. A number further
// behind than the window counts as new.
bool IsDuplicate(IaxSession* session, uint16_t sequence)
{
    if (!session->rxSeqSeen) {
        session->rxSeqSeen = 1;
        session->rxSeqNewest = sequence;
        session->rxSeqWindow = 1;
        return false;
    }
    int ahead = static_cast<int16_t>(static_cast<uint16_t>(sequence - session->rxSeqNewest));
    if (ahead > 0) {
        session->rxSeqWindow = ahead >= kSequenceWindow ? 0 : session->rxSeqWindow << ahead;
        session->rxSeqWindow |= 1;
        session->rxSeqNewest = sequence;
        return false;
    }
    if (-ahead >= kSequenceWindow)
        return false;
    uint64_t bit = uint64_t(1) << -ahead;
    if (session->rxSeqWindow & bit)
        return true;
    session->rxSeqWindow |= bit;
    return false;
}

struct SequenceMatch {
    const IaxSession* session;
    uint16_t sequence;
};

bool FrameOfSessionWithSequence(const IaxFrame* frame, const void* context)
{
    const SequenceMatch* match = static_cast<const SequenceMatch*>(context);
    IaxFullHeader header;
    return frame->session == match->session &&
           IaxDecodeFullHeader(frame->data, frame->length, &header) == 0 &&
           header.sequence == match->sequence;
}

bool FrameOfSession(const IaxFrame* frame, const void* context)
{
    return frame->session == context;
}

bool FrameViaTransfer(const IaxFrame* frame, const void*)
{
    return frame->viaTransfer != 0;
}

// An ACK releases the frame it names in whatever order it comes: under
// loss ACKs overtake each other, and a frame whose ACK came early must not
// be resent.
void HandleAck(const Received& in)
{
    IaxSession* session = in.session;
    uint16_t sequence = in.header.sequence;
    SequenceMatch match{session, sequence};
    IaxFinishFrames(FrameOfSessionWithSequence, &match);
    if (sequence == session->ackSeq)
        ++session->ackSeq;
}

IaxEvent* HandleNew(IaxEvent* event, const Received& in)
{
    auto& call = event->call;
    event->type = EvNewCall;
    call.callerId = IaxTextValue(in.text(), "callerid=");
    call.dnid = IaxTextValue(in.text(), "dnid=");
    call.exten = IaxTextValue(in.text(), "exten=");
    call.context = IaxTextValue(in.text(), "context=");
    call.username = IaxTextValue(in.text(), "username=");
    call.language = IaxTextValue(in.text(), "language=");
    call.formats = IaxTextInt(in.text(), "formats=", 0);
    call.version = IaxTextInt(in.text(), "version=", 0);
    call.host = DottedAddress(in.session->peerAddress);
    return Jitter(event, in);
}

IaxEvent* HandleAuthRequest(IaxEvent* event, const Received& in)
{
    IaxSession* session = in.session;
    event->type = EvAuthRequest;
    auto& request = event->authRequest;
    request.username = IaxTextValue(in.text(), "username=");
    char* methods = IaxTextValue(in.text(), "methods=");
    if (methods) {
        request.methods = (strstr(methods, "md5") ? IaxAuthMd5 : 0) |
                          (strstr(methods, "plaintext") ? IaxAuthPlaintext : 0);
        free(methods);
    }
    request.challenge = IaxTextValue(in.text(), "challenge=");
    if (session->username[0] && request.username &&
        strcmp(request.username, session->username) == 0 && session->secret[0]) {
        // A secret that cannot go in plain text leaves the request to the
        // library's user, who ends the call instead of waiting for a time-out.
        if (IaxSendAuthReply(session, session->secret, request.challenge, request.methods) == 0)
            return Drop(event);
    }
    return Jitter(event, in);
}

// Answered only on a session that asked to register; on any other it was
// acknowledged and goes no further.
IaxEvent* HandleRegisterChallenge(IaxEvent* event, const Received& in)
{
    IaxSession* session = in.session;
    if (!session->sentRegisterRequest)
        return Drop(event);
    char* methods = IaxTextValue(in.text(), "methods=");
    if (methods) {
        IaxCopyText(session->authMethods, IaxTextFieldBytes, methods);
        char* challenge = IaxTextValue(in.text(), "challenge=");
        IaxCopyText(session->challenge, sizeof session->challenge, challenge);
        free(challenge);
        free(methods);
        IaxEvent request{};
        request.type = EvRegisterAuth;
        IaxSendEvent(session, &request);
    }
    return Drop(event);
}

IaxEvent* HandleRegisterReply(IaxEvent* event, const Received& in, int result)
{
    auto& reply = event->regReply;
    event->type = EvRegisterReply;
    reply.result = result;
    if (result == 1) {
        reply.yourIp = IaxTextValue(in.text(), "yourip=");
        reply.yourPort = static_cast<unsigned short>(IaxTextInt(in.text(), "yourport=", 0));
        reply.callerId = IaxTextValue(in.text(), "callerid=");
    }
    reply.refresh = IaxTextInt(in.text(), "refresh=", 0);
    return Jitter(event, in);
}

IaxEvent* HandleDialPlanReply(IaxEvent* event, const Received& in)
{
    auto& reply = event->dpReply;
    fprintf(IaxDiagnosticStream(), "Got dialplan reply: %s\n", in.text());
    event->type = EvDialPlanReply;
    reply.number = IaxTextValue(in.text(), "number=");
    char* status = IaxTextValue(in.text(), "status=");
    if (status) {
        if (strcmp(status, "exists") == 0)
            reply.exists = 1;
        else if (strcmp(status, "canexist") == 0)
            reply.canExist = 1;
        else if (strcmp(status, "nonexistant") == 0)
            reply.nonExistent = 1;
        else
            fprintf(stderr, "Unknown status '%s'\n", status);
        free(status);
    }
    char* ignore = IaxTextValue(in.text(), "ignorepat=");
    reply.ignorePattern = ignore && strcmp(ignore, "yes") == 0;
    free(ignore);
    int expiry = IaxTextInt(in.text(), "expirey=", 0);
    reply.expiry = expiry < 0 ? 0 : expiry;
    return event;
}

IaxEvent* HandleTransferRequest(IaxEvent* event, const Received& in)
{
    IaxSession* session = in.session;
    char* remoteIp = IaxTextValue(in.text(), "remip=");
    uint32_t address = 0;
    bool valid = remoteIp && IaxParseDottedQuad(remoteIp, &address) == 0;
    free(remoteIp);
    if (!valid)
        return Drop(event);
    session->transferAddress.sin_addr.s_addr = htonl(address);
    char* port = IaxTextValue(in.text(), "remport=");
    if (!port)
        return Drop(event);
    session->transferAddress.sin_port = htons(static_cast<uint16_t>(IaxParseDecimal(port)));
    free(port);
    char* call = IaxTextValue(in.text(), "remcall=");
    if (!call)
        return Drop(event);
    session->transferAddress.sin_family = AF_INET;
    session->transferCallNumber = IaxParseDecimal(call);
    session->transferState = 1;
    free(call);
    IaxEvent request{};
    request.type = EvTransferCount;
    IaxSendEvent(session, &request);
    return Drop(event);
}

IaxEvent* HandleTransferCount(IaxEvent* event, const Received& in)
{
    if (in.session->transferState != 0) {
        IaxEvent request{};
        request.type = EvTransferAccept;
        IaxSendEvent(in.session, &request);
    }
    return Drop(event);
}

IaxEvent* HandleTransferAccept(IaxEvent* event, const Received& in)
{
    if (in.session->transferState != 0) {
        IaxFinishFrames(FrameViaTransfer, nullptr);
        in.session->transferState = 2;
        IaxEvent request{};
        request.type = EvTransferReady;
        IaxSendEvent(in.session, &request);
    }
    return Drop(event);
}

void RestartTiming(IaxSession* session)
{
    session->lastTxVoiceFormat = -1;
    session->lastRxVoiceFormat = 0;
    session->txTimeBase = IaxTime{0, 0};
    session->rxTimeBase = IaxTime{0, 0};
    session->rxTimeBaseSet = 0;
    memset(session->delayHistory, 0, sizeof session->delayHistory);
    session->jitterBuffer = 0;
    session->jitter = 0;
    session->outSeq = 0;
    session->ackSeq = 0;
    session->lastTxTimestamp = 0;
    session->lastRxTimestamp = 0;
    session->lastTxVoiceTimestamp = 0;
    session->retransmitBase = 30;
    session->rxSeqSeen = 0;  // the new peer numbers its frames afresh
    session->rxSeqWindow = 0;
}

IaxEvent* HandleTransferRelease(IaxEvent* event, const Received& in)
{
    IaxSession* session = in.session;
    fprintf(IaxDiagnosticStream(), "Release: text is %s\n", in.text());
    char* peerCall = IaxTextValue(in.text(), "peercallno=");
    if (peerCall) {
        session->peerCallNumber = IaxParseDecimal(peerCall);
        free(peerCall);
    }
    session->peerAddress = session->transferAddress;
    memset(&session->transferAddress, 0, sizeof session->transferAddress);
    session->transferState = 0;
    RestartTiming(session);
    event->type = EvTransferred;
    event->transfer.address = DottedAddress(session->peerAddress);
    event->transfer.port = ntohs(session->peerAddress.sin_port);
    IaxFinishFrames(FrameOfSession, session);
    return event;
}

IaxEvent* HandleLagReply(IaxEvent* event, const Received& in)
{
    event->type = EvLagReply;
    event->lag.lag = static_cast<int>(IaxTimestamp(in.session) - in.header.timestamp);
    event->lag.jitter = in.session->jitter;
    return event;
}

IaxEvent* WithType(IaxEvent* event, int type)
{
    event->type = type;
    return event;
}

IaxEvent* HandleIax(IaxEvent* event, const Received& in)
{
    const char* text = in.text();
    switch (in.subclass) {
    case IAX_NEW: return HandleNew(event, in);
    case IAX_PING:
    case IAX_LAGRQ:
        event->type = in.subclass == IAX_PING ? EvPing : EvLagRequest;
        event->ts.timestamp = in.header.timestamp;
        event->ts.sequence = in.header.sequence;
        return Jitter(event, in);
    case IAX_ACK: HandleAck(in); return Drop(event);
    case IAX_HANGUP:
        event->type = EvHangup;
        event->reason.text = in.payloadBytes > 0 ? strdup(text) : nullptr;
        return Jitter(event, in);
    case IAX_REJECT:
        event->type = EvReject;
        event->reason.text = strdup(text);
        return Jitter(event, in);
    case IAX_ACCEPT: return Jitter(WithType(event, EvAccept), in);
    case IAX_AUTHREQ: return HandleAuthRequest(event, in);
    case IAX_INVAL: return Jitter(WithType(event, EvHangup), in);
    case IAX_LAGRP: return HandleLagReply(event, in);
    case IAX_REGAUTH: return HandleRegisterChallenge(event, in);
    case IAX_REGACK: return HandleRegisterReply(event, in, 1);
    case IAX_REGREJ: return HandleRegisterReply(event, in, 2);
    case IAX_DPREP: return HandleDialPlanReply(event, in);
    case IAX_TXREQ: return HandleTransferRequest(event, in);
    case IAX_TXCNT: return HandleTransferCount(event, in);
    case IAX_TXACC: return HandleTransferAccept(event, in);
    case IAX_TXREL: return HandleTransferRelease(event, in);
    case IAX_QUELCH: in.session->quelched = 1; return WithType(event, EvQuelch);
    case IAX_UNQUELCH: in.session->quelched = 0; return WithType(event, EvUnquelch);
    default: return Drop(event);
    }
}

IaxEvent* HandleHtml(IaxEvent* event, const Received& in)
{
    switch (in.header.subclass) {
    case HTML_URL:
    case HTML_LINK_URL:
        event->type = EvUrl;
        event->url.link = in.header.subclass == HTML_LINK_URL;
        event->url.url = in.payloadBytes > 0 ? strdup(in.text()) : nullptr;
        return Jitter(event, in);
    case HTML_LOAD_COMPLETE: return Jitter(WithType(event, EvLoadComplete), in);
    case HTML_UNLINK: return Jitter(WithType(event, EvUnlink), in);
    case HTML_LINK_REJECT: return Jitter(WithType(event, EvLinkReject), in);
    default: return Drop(event);
    }
}

IaxEvent* HandleControl(IaxEvent* event, const Received& in)
{
    switch (in.subclass) {
    case CTRL_RINGING: return Jitter(WithType(event, EvRinging), in);
    case CTRL_ANSWER: return Jitter(WithType(event, EvAnswer), in);
    case CTRL_BUSY:
    case CTRL_CONGESTION: return Jitter(WithType(event, EvBusy), in);
    default: return Drop(event);
    }
}

IaxEvent* Dispatch(IaxEvent* event, const Received& in)
{
    switch (in.header.frameType) {
    case FT_DTMF:
        event->type = EvDtmf;
        event->digit.digit = static_cast<char>(in.subclass);
        return Jitter(event, in);
    case FT_VOICE:
        event->type = EvVoice;
        in.session->lastRxVoiceFormat = in.subclass;
        return CopyMedia(event, in) ? Jitter(event, in) : Drop(event);
    case FT_CONTROL: return HandleControl(event, in);
    case FT_IAX: return HandleIax(event, in);
    case FT_TEXT:
        event->type = EvText;
        IaxCopyText(event->text.text, IaxEventPayloadBytes, in.text());
        return Jitter(event, in);
    case FT_IMAGE:
        event->type = EvImage;
        return CopyMedia(event, in) ? Jitter(event, in) : Drop(event);
    case FT_HTML: return HandleHtml(event, in);
    default: return Drop(event);
    }
}

// A closed session waits only for the ACK of its HANGUP; whatever else comes
// is acknowledged and yields nothing.
IaxEvent* HandleWhileClosing(const Received& in)
{
    if (IsNotAcknowledged(in)) {
        if (in.header.frameType == FT_IAX && in.subclass == IAX_ACK) {
            HandleAck(in);
            if (!IaxHasPendingFrames(in.session))
                IaxEndSession(in.session);
        }
        return nullptr;
    }
    IaxSendAck(in.session, in.header);
    return nullptr;
}

}  // namespace

IaxEvent* IaxHandleFullFrame(IaxSession* session, const IaxDatagram& datagram)
{
    Received in{session, datagram.full, datagram.payload, datagram.payloadBytes,
                IaxExpandSubclass(datagram.full.subclass)};
    if (session->closing)
        return HandleWhileClosing(in);
    // A duplicate is acknowledged again (its first ACK may be what got lost)
    // but not handled again.
    bool duplicate = !CarriesNoSequence(in) && IsDuplicate(session, in.header.sequence);
    if (!IsNotAcknowledged(in))
        IaxSendAck(session, in.header);
    if (duplicate)
        return nullptr;
    session->lastRxTimestamp = in.header.timestamp;
    IaxEvent* event = IaxNewEvent();
    if (!event)
        return nullptr;
    event->session = session;
    IaxEvent* result = Dispatch(event, in);
    // A transfer may have moved the session's addresses or call numbers.
    IaxSessionUpdated(session);
    return result;
}
