// Layer: operations (top of the outbound side). The public sending
// operations: each builds a request record and hands it to IaxSendEvent.
// Calls the send side and the dial-string parser.
#include <cstdlib>
#include <cstring>

#include "iax/dial_string.h"
#include "iax/error.h"
#include "iax/iax.h"
#include "iax/send.h"
#include "iax/wire.h"

namespace {

int SendSimple(IaxSession* session, int type)
{
    IaxEvent request{};
    request.type = type;
    request.session = session;
    return IaxSendEvent(session, &request);
}

int SendReason(IaxSession* session, int type, const char* reason)
{
    IaxEvent request{};
    request.type = type;
    request.reason.text = const_cast<char*>(reason);
    return IaxSendEvent(session, &request);
}

int SendMedia(IaxSession* session, int type, int format, const unsigned char* data, int lengthBytes)
{
    IaxEvent request;  // not zeroed: voice is sent every 20 ms and only these fields are read
    request.type = type;
    request.session = session;
    request.media.format = format;
    request.media.data = const_cast<unsigned char*>(data);
    request.media.length = lengthBytes;
    return IaxSendEvent(session, &request);
}

int SendNumber(IaxSession* session, int type, const char* number)
{
    IaxEvent request{};
    request.type = type;
    request.number.number = const_cast<char*>(number);
    return IaxSendEvent(session, &request);
}

}  // namespace

int IaxPlaceCall(IaxSession* session, const char* callerId, const char* dialString,
                 const char* language)
{
    char* copy = dialString ? strdup(dialString) : nullptr;
    if (!copy) {
        IaxSetError("Invalid IAX Call Handle\n");
        return -1;
    }
    IaxDialFields fields;
    int result = -1;
    if (IaxParseDialString(copy, &fields) == 0) {
        IaxEvent request{};
        request.type = EvNewCall;
        auto& call = request.call;
        call.callerId = const_cast<char*>(callerId);
        call.language = const_cast<char*>(language);
        call.formats = IaxAdvertisedFormats;
        call.version = 1;
        call.username = fields.username;
        call.secret = fields.secret;
        call.host = fields.host;
        call.port = static_cast<unsigned short>(fields.port);
        call.exten = call.dnid = fields.exten;
        call.context = fields.context;
        result = IaxSendEvent(session, &request);
    }
    free(copy);
    return result;
}

namespace {

const char* Present(const char* text)
{
    return text && *text ? text : nullptr;
}

bool FitsSessionText(const char* text)
{
    return !text || strlen(text) <= static_cast<size_t>(IaxMaxSecretChars);
}

}  // namespace

int IaxPlaceCallFields(IaxSession* session, const IaxCallFields* fields)
{
    if (!fields || !Present(fields->host)) {
        IaxSetError("Invalid hostname: %s", "");
        return -1;
    }
    if (fields->port < 1 || fields->port > 65535) {
        IaxSetError("Invalid port %d", fields->port);
        return -1;
    }
    // A cut secret would only fail at the server, for no visible reason.
    if (!FitsSessionText(fields->username) || !FitsSessionText(fields->secret)) {
        IaxSetError("User name or secret longer than %d characters", IaxMaxSecretChars);
        return -1;
    }
    IaxEvent request{};
    request.type = EvNewCall;
    auto& call = request.call;
    call.formats = IaxAdvertisedFormats;
    call.version = 1;
    call.username = const_cast<char*>(Present(fields->username));
    call.secret = const_cast<char*>(Present(fields->secret));
    call.host = const_cast<char*>(fields->host);
    call.port = static_cast<unsigned short>(fields->port);
    call.exten = call.dnid = const_cast<char*>(Present(fields->number));
    call.context = const_cast<char*>(Present(fields->context));
    return IaxSendEvent(session, &request);
}

int IaxAcceptCall(IaxSession* session)
{
    return SendSimple(session, EvAccept);
}
int IaxSendRinging(IaxSession* session)
{
    return SendSimple(session, EvRinging);
}
int IaxAnswerCall(IaxSession* session)
{
    return SendSimple(session, EvAnswer);
}
int IaxSendBusy(IaxSession* session)
{
    return SendSimple(session, EvBusy);
}
int IaxSendLoadComplete(IaxSession* session)
{
    return SendSimple(session, EvLoadComplete);
}
int IaxSendUnlink(IaxSession* session)
{
    return SendSimple(session, EvUnlink);
}
int IaxSendLinkReject(IaxSession* session)
{
    return SendSimple(session, EvLinkReject);
}
int IaxQuelch(IaxSession* session)
{
    return SendSimple(session, EvQuelch);
}
int IaxUnquelch(IaxSession* session)
{
    return SendSimple(session, EvUnquelch);
}
int IaxLag(IaxSession* session)
{
    return SendSimple(session, EvLagRequest);
}

int IaxRejectCall(IaxSession* session, const char* reason)
{
    return SendReason(session, EvReject, reason);
}

int IaxHangUp(IaxSession* session, const char* reason)
{
    return SendReason(session, EvHangup, reason);
}

int IaxSendTouchTone(IaxSession* session, char digit)
{
    IaxEvent request{};
    request.type = EvDtmf;
    request.digit.digit = digit;
    return IaxSendEvent(session, &request);
}

int IaxSendVoice(IaxSession* session, int format, const unsigned char* data, int lengthBytes)
{
    return SendMedia(session, EvVoice, format, data, lengthBytes);
}

int IaxSendImage(IaxSession* session, int format, const unsigned char* data, int lengthBytes)
{
    return SendMedia(session, EvImage, format, data, lengthBytes);
}

int IaxSendUrl(IaxSession* session, const char* url, int link)
{
    IaxEvent request{};
    request.type = EvUrl;
    request.url.link = link;
    request.url.url = const_cast<char*>(url);
    return IaxSendEvent(session, &request);
}

int IaxSendText(IaxSession* session, const char* text)
{
    // The record is 8 KiB; on the heap rather than the caller's stack.
    IaxEvent* request = static_cast<IaxEvent*>(calloc(1, sizeof(IaxEvent)));
    if (!request) {
        IaxSetError("Out of memory\n");
        return -1;
    }
    request->type = EvText;
    IaxCopyText(request->text.text, IaxEventPayloadBytes, text);
    int result = IaxSendEvent(session, request);
    free(request);
    return result;
}

int IaxAuthReply(IaxSession* session, const char* secret, const char* challenge, int methods)
{
    return IaxSendAuthReply(session, secret, challenge, methods);
}

int IaxRegister(IaxSession* session, const char* host, int port, const char* peer,
                const char* secret, int refreshSeconds)
{
    IaxEvent request{};
    request.type = EvRegister;
    request.reg.host = const_cast<char*>(host);
    request.reg.port = static_cast<unsigned short>(port == 0 ? IaxDefaultPort : port);
    request.reg.peer = const_cast<char*>(peer);
    request.reg.secret = const_cast<char*>(secret);
    request.reg.refresh = refreshSeconds;
    return IaxSendEvent(session, &request);
}

int IaxDialPlanRequest(IaxSession* session, const char* number)
{
    return SendNumber(session, EvDialPlanRequest, number);
}

int IaxDial(IaxSession* session, const char* number)
{
    return SendNumber(session, EvDial, number);
}
