// Layer: send side. Builds every outbound frame from a request record,
// queues it for retransmission and sends it; also the ACKs and the
// authentication reply that the receive side needs. Calls the session list,
// the timer list, the records, the socket, MD5 and the wire format.
#include <arpa/inet.h>
#include <netdb.h>

#include <cstdlib>
#include <cstring>

#include "iax/error.h"
#include "iax/md5.h"
#include "iax/records.h"
#include "iax/send.h"
#include "iax/session.h"
#include "iax/socket.h"
#include "iax/timer.h"
#include "iax/wire.h"

int IaxAdvertisedFormats = 0;
int IaxMaxRetries = 10;

namespace {

// Characters of a text payload; one byte of the payload capacity stays for
// the NUL that some payloads count.
constexpr int kTextCapacity = IaxMaxPayload - 1;

// The frame being built. Queued frames are copied, so one buffer serves.
unsigned char frameBytes[IaxMaxFrameBytes];

struct Outbound {
    IaxSession* session;
    IaxFrame frame;        // data points at frameBytes
    IaxFullHeader header;  // encoded into frameBytes when the frame goes out
    uint32_t timestamp;
    char* text() { return reinterpret_cast<char*>(frameBytes + IaxFullHeaderBytes); }
    int payloadLength() const { return frame.length - IaxFullHeaderBytes; }
};

int RetryInterval(const IaxSession* session)
{
    int interval = session->retransmitBase * 2;
    return interval < 10 ? 10 : interval > 10000 ? 10000 : interval;
}

void Prepare(Outbound* out, IaxSession* session)
{
    out->session = session;
    out->timestamp = IaxTimestamp(session);
    out->header = IaxFullHeader{static_cast<uint16_t>(session->callNumber),
                                static_cast<uint16_t>(session->peerCallNumber),
                                out->timestamp,
                                0,
                                0,
                                0};
    out->frame =
        IaxFrame{session, frameBytes, IaxFullHeaderBytes, IaxMaxRetries, RetryInterval(session), 0};
}

// type and subclass; sequenced takes the session's next outbound number.
void SetKind(Outbound* out, int frameType, int subclass, bool sequenced)
{
    if (sequenced)
        out->header.sequence = out->session->outSeq++;
    out->header.frameType = static_cast<uint8_t>(frameType);
    out->header.subclass = IaxCompressSubclass(subclass);
}

void SetText(Outbound* out, int textLength, bool countNul)
{
    out->text()[textLength] = '\0';
    out->frame.length = IaxFullHeaderBytes + textLength + (countNul ? 1 : 0);
}

void SetBytes(Outbound* out, const unsigned char* data, int lengthBytes)
{
    if (lengthBytes > 0)
        memcpy(frameBytes + IaxFullHeaderBytes, data, static_cast<size_t>(lengthBytes));
    out->frame.length = IaxFullHeaderBytes + lengthBytes;
}

void EncodeHeader(const Outbound* out)
{
    IaxEncodeFullHeader(frameBytes, out->header);
}

int Queue(Outbound* out)
{
    EncodeHeader(out);
    IaxQueueFrame(&out->frame);  // a failure leaves a message; retransmission covers sends
    return 0;
}

int Simple(Outbound* out, int frameType, int subclass)
{
    SetKind(out, frameType, subclass, true);
    return Queue(out);
}

int ResolveInto(const char* host, int port, sockaddr_in* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (!host || !*host || getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        IaxSetError("Invalid hostname: %s", host ? host : "");
        return -1;
    }
    *address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    address->sin_port = htons(static_cast<uint16_t>(port));
    freeaddrinfo(found);
    return 0;
}

// A value holding ';' or '=' would add keys of its own to the receiver's
// reading of the text: the request is refused before anything goes out.
bool RefusesElements(const char* const* values, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!IaxIsElementValue(values[i])) {
            IaxSetError("Invalid character in request text");  // never echoes a secret
            return true;
        }
    }
    return false;
}

int SendNewCall(Outbound* out, const IaxEvent* request)
{
    const auto& call = request->call;
    const char* values[] = {call.exten,   call.callerId, call.dnid,
                            call.context, call.username, call.language};
    if (RefusesElements(values, 6))
        return -1;
    if (ResolveInto(call.host, call.port, &out->session->peerAddress) != 0)
        return -1;
    IaxSessionUpdated(out->session);
    SetKind(out, FT_IAX, IAX_NEW, true);
    char* text = out->text();
    int length = 0;
    const char* keys[] = {"exten=", "callerid=", "dnid=", "context=", "username=", "language="};
    for (int i = 0; i < 6; ++i)
        if (values[i])
            length = IaxAppendElement(text, length, kTextCapacity, keys[i], values[i]);
    length = IaxAppendIntElement(text, length, kTextCapacity, "formats=", IaxAdvertisedFormats);
    length = IaxAppendIntElement(text, length, kTextCapacity, "version=", 1);
    SetText(out, length, false);
    IaxCopyText(out->session->username, IaxTextFieldBytes, call.username);
    IaxCopyText(out->session->secret, IaxTextFieldBytes, call.secret);
    return Queue(out);
}

int SendRegister(Outbound* out, const IaxEvent* request)
{
    const auto& reg = request->reg;
    IaxSession* session = out->session;
    if (RefusesElements(&reg.peer, 1))
        return -1;
    if (ResolveInto(reg.host, reg.port, &session->peerAddress) != 0)
        return -1;
    IaxSessionUpdated(session);
    session->sentRegisterRequest = 1;
    SetKind(out, FT_IAX, IAX_REGREQ, true);
    IaxCopyText(session->secret, IaxTextFieldBytes, reg.secret);
    IaxCopyText(session->peerName, IaxTextFieldBytes, reg.peer);
    session->refresh = reg.refresh;
    int length = 0;
    if (reg.peer)
        length = IaxAppendElement(out->text(), length, kTextCapacity, "peer=", reg.peer);
    if (reg.refresh != 0)
        length = IaxAppendIntElement(out->text(), length, kTextCapacity, "refresh=", reg.refresh);
    SetText(out, length, false);
    return Queue(out);
}

int SendRegisterAuth(Outbound* out)
{
    IaxSession* session = out->session;
    const bool md5 = strstr(session->authMethods, "md5") != nullptr;
    const char* plain[] = {session->peerName, session->secret};
    if (RefusesElements(plain, md5 ? 1 : 2))
        return -1;
    SetKind(out, FT_IAX, IAX_REGREQ, true);
    char* text = out->text();
    int length = IaxAppendElement(text, 0, kTextCapacity, "peer=", session->peerName);
    length = IaxAppendIntElement(text, length, kTextCapacity, "refresh=", session->refresh);
    if (md5) {
        char digest[33];
        IaxMd5Hex(session->challenge, session->secret, digest);
        length = IaxAppendElement(text, length, kTextCapacity, "md5secret=", digest);
    } else {
        length = IaxAppendElement(text, length, kTextCapacity, "secret=", session->secret);
    }
    SetText(out, length, false);
    return Queue(out);
}

int SendAuthReply(Outbound* out, const IaxEvent* request)
{
    const char* key = request->authReply.method == IaxAuthPlaintext ? "secret="
                      : request->authReply.method == IaxAuthMd5     ? "md5secret="
                                                                    : nullptr;
    if (!key) {
        IaxSetError("Invalid authentication method %d\n", request->authReply.method);
        return -1;
    }
    if (RefusesElements(&request->authReply.secret, 1))
        return -1;
    SetKind(out, FT_IAX, IAX_AUTHREP, true);
    SetText(out, IaxAppendElement(out->text(), 0, kTextCapacity, key, request->authReply.secret),
            false);
    return Queue(out);
}

int SendVoice(Outbound* out, const IaxEvent* request)
{
    const auto& media = request->media;
    IaxSession* session = out->session;
    if (media.length > IaxMaxPayload) {
        IaxSetError("Voice frame too large\n");
        return -1;
    }
    if (media.length < 0 || (media.length > 0 && !media.data)) {
        IaxSetError("Invalid voice data\n");
        return -1;
    }
    if (session->quelched)
        return 0;
    uint32_t ts = out->timestamp;
    if (media.format == session->lastTxVoiceFormat &&
        (ts >> 16) == (session->lastTxVoiceTimestamp >> 16)) {
        IaxEncodeMiniHeader(frameBytes, IaxMiniHeader{static_cast<uint16_t>(session->callNumber),
                                                      static_cast<uint16_t>(ts)});
        if (media.length > 0)
            memcpy(frameBytes + IaxMiniHeaderBytes, media.data, static_cast<size_t>(media.length));
        session->lastTxVoiceTimestamp = ts;
        IaxSendDatagram(frameBytes, IaxMiniHeaderBytes + media.length, &session->peerAddress);
        return 0;
    }
    SetKind(out, FT_VOICE, media.format, true);
    SetBytes(out, media.data, media.length);
    session->lastTxVoiceFormat = media.format;
    session->lastTxVoiceTimestamp = ts;
    return Queue(out);
}

int SendImage(Outbound* out, const IaxEvent* request)
{
    const auto& media = request->media;
    if (media.length > IaxMaxPayload) {
        IaxSetError("Image frame too large\n");
        return -1;
    }
    if (media.length < 0 || (media.length > 0 && !media.data)) {
        IaxSetError("Invalid image data\n");
        return -1;
    }
    SetKind(out, FT_IMAGE, media.format, true);
    SetBytes(out, media.data, media.length);
    return Queue(out);
}

// A plain-text payload without NUL (HANGUP, REJECT, DPREQ, DIAL).
int SendPlainText(Outbound* out, int subclass, const char* text)
{
    SetKind(out, FT_IAX, subclass, true);
    SetText(out, text ? IaxAppendText(out->text(), 0, kTextCapacity, text) : 0, false);
    return Queue(out);
}

int SendEnding(Outbound* out, int frameType, int subclass, const char* text)
{
    // A HANGUP lost on the way would leave the call up at the peer: once the
    // peer's call number is known, the session stays (closed) and the HANGUP
    // is resent until acknowledged. Otherwise destroying the session marks
    // the frame just queued finished: it goes out once.
    bool resent = subclass == IAX_HANGUP && out->session->peerCallNumber != -1;
    if (resent)
        IaxCloseSession(out->session);
    if (frameType == FT_IAX)
        SendPlainText(out, subclass, text);
    else
        Simple(out, frameType, subclass);
    if (!resent)
        IaxDestroySession(out->session);
    return 0;
}

int SendUrl(Outbound* out, const IaxEvent* request)
{
    SetKind(out, FT_HTML, request->url.link ? HTML_LINK_URL : HTML_URL, true);
    if (request->url.url)
        SetText(out, IaxAppendText(out->text(), 0, kTextCapacity, request->url.url), true);
    return Queue(out);
}

int SendInlineText(Outbound* out, const IaxEvent* request)
{
    SetKind(out, FT_TEXT, 7, true);
    int length = static_cast<int>(strnlen(request->text.text, IaxEventPayloadBytes - 1));
    memcpy(out->text(), request->text.text, static_cast<size_t>(length));
    SetText(out, length, true);
    return Queue(out);
}

int SendEcho(Outbound* out, int subclass, const IaxEvent* request, bool sequenced)
{
    SetKind(out, FT_IAX, subclass, sequenced);
    out->header.timestamp = request->ts.timestamp;
    return Queue(out);
}

int SendTransferProbe(Outbound* out, int subclass)
{
    SetKind(out, FT_IAX, subclass, false);
    out->header.destCall = static_cast<uint16_t>(out->session->transferCallNumber);
    out->frame.viaTransfer = 1;
    if (subclass == IAX_TXCNT)
        return Queue(out);
    out->frame.retriesLeft = -1;
    EncodeHeader(out);
    IaxTransmit(&out->frame);  // TXACC goes once, never retransmitted
    return 0;
}

int Dispatch(Outbound* out, const IaxEvent* request)
{
    switch (request->type) {
    case EvNewCall: return SendNewCall(out, request);
    case EvAccept:
        SetKind(out, FT_IAX, IAX_ACCEPT, true);
        SetText(
            out,
            IaxAppendIntElement(out->text(), 0, kTextCapacity, "formats=", IaxAdvertisedFormats),
            true);
        return Queue(out);
    case EvHangup: return SendEnding(out, FT_IAX, IAX_HANGUP, request->reason.text);
    case EvReject: return SendEnding(out, FT_IAX, IAX_REJECT, request->reason.text);
    case EvBusy: return SendEnding(out, FT_CONTROL, CTRL_BUSY, nullptr);
    case EvVoice: return SendVoice(out, request);
    case EvImage: return SendImage(out, request);
    case EvDtmf: return Simple(out, FT_DTMF, static_cast<unsigned char>(request->digit.digit));
    case EvLagRequest: return Simple(out, FT_IAX, IAX_LAGRQ);
    case EvLagReply: return SendEcho(out, IAX_LAGRP, request, true);
    case EvPong: return SendEcho(out, IAX_PONG, request, false);
    case EvRinging: return Simple(out, FT_CONTROL, CTRL_RINGING);
    case EvAnswer: return Simple(out, FT_CONTROL, CTRL_ANSWER);
    case EvAuthReply: return SendAuthReply(out, request);
    case EvRegister: return SendRegister(out, request);
    case EvRegisterAuth: return SendRegisterAuth(out);
    case EvUrl: return SendUrl(out, request);
    case EvLoadComplete: return Simple(out, FT_HTML, HTML_LOAD_COMPLETE);
    case EvUnlink: return Simple(out, FT_HTML, HTML_UNLINK);
    case EvLinkReject: return Simple(out, FT_HTML, HTML_LINK_REJECT);
    case EvDialPlanRequest: return SendPlainText(out, IAX_DPREQ, request->number.number);
    case EvDial: return SendPlainText(out, IAX_DIAL, request->number.number);
    case EvQuelch: return Simple(out, FT_IAX, IAX_QUELCH);
    case EvUnquelch: return Simple(out, FT_IAX, IAX_UNQUELCH);
    case EvText: return SendInlineText(out, request);
    case EvTransferCount: return SendTransferProbe(out, IAX_TXCNT);
    case EvTransferAccept: return SendTransferProbe(out, IAX_TXACC);
    case EvTransferReject: return Simple(out, FT_IAX, IAX_TXREJ);
    case EvTransferReady: return Simple(out, FT_IAX, IAX_TXREADY);
    default:
        // Reported as the failure it is, not as success.
        IaxSetError("Unknown event type.\n");
        return -1;
    }
}

}  // namespace

void IaxSetFormats(int formats)
{
    IaxAdvertisedFormats = formats;
}

int IaxTransmit(const IaxFrame* frame)
{
    if (!frame->session)
        return -1;
    const sockaddr_in* to =
        frame->viaTransfer ? &frame->session->transferAddress : &frame->session->peerAddress;
    return IaxSendDatagram(frame->data, frame->length, to);
}

int IaxQueueFrame(const IaxFrame* description)
{
    if (!description || !description->data || description->length <= 0) {
        IaxSetError("No frame data?");
        return -1;
    }
    IaxFrame* copy = IaxCopyFrame(description);
    if (!copy || IaxSchedule(nullptr, copy, copy->retryInterval) != 0) {
        IaxFreeFrame(copy);
        IaxSetError("Out of memory\n");
        return -1;
    }
    return IaxTransmit(copy);
}

void IaxSendAck(IaxSession* session, const IaxFullHeader& received)
{
    unsigned char ack[IaxFullHeaderBytes];
    IaxEncodeFullHeader(
        ack, IaxFullHeader{static_cast<uint16_t>(session->callNumber), received.sourceCall,
                           received.timestamp, received.sequence, FT_IAX, IAX_ACK});
    IaxSendDatagram(ack, sizeof ack, &session->peerAddress);
}

int IaxSendEvent(IaxSession* session, IaxEvent* request)
{
    if (!request) {
        IaxSetError("Null event");
        return -1;
    }
    if (!session)
        session = request->session;
    if (!IaxSessionIsLive(session)) {
        IaxSetError("Invalid session for transmitting event");
        return -1;
    }
    Outbound out;
    Prepare(&out, session);
    return Dispatch(&out, request);
}

int IaxSendAuthReply(IaxSession* session, const char* secret, const char* challenge, int methods)
{
    IaxEvent request{};
    request.type = EvAuthReply;
    char digest[33];
    if ((methods & IaxAuthMd5) && challenge) {
        IaxMd5Hex(challenge, secret ? secret : "", digest);
        request.authReply.method = IaxAuthMd5;
        request.authReply.secret = digest;
    } else {
        request.authReply.method = IaxAuthPlaintext;
        request.authReply.secret = const_cast<char*>(secret);
    }
    return IaxSendEvent(session, &request);
}
