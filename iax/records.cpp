// Layer: records. Creates and releases events and queued frames; calls
// nothing else of the library.
#include "iax/records.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

IaxEvent* IaxNewEvent(void)
{
    return static_cast<IaxEvent*>(calloc(1, sizeof(IaxEvent)));
}

void IaxFreeEvent(IaxEvent* event)
{
    if (!event)
        return;
    switch (event->type) {
    case EvNewCall: {
        auto& call = event->call;
        for (char* text : {call.callerId, call.dnid, call.context, call.exten, call.username,
                           call.host, call.language, call.secret})
            free(text);
        break;
    }
    case EvHangup:
    case EvReject: free(event->reason.text); break;
    case EvTransferred: free(event->transfer.address); break;
    case EvDialPlanRequest:
    case EvDial: free(event->number.number); break;
    case EvDialPlanReply: free(event->dpReply.number); break;
    case EvVoice:
    case EvImage: free(event->media.data); break;
    case EvAuthReply: free(event->authReply.secret); break;
    case EvUrl: free(event->url.url); break;
    case EvAuthRequest:
        free(event->authRequest.challenge);
        free(event->authRequest.username);
        break;
    case EvRegister:
        free(event->reg.host);
        free(event->reg.peer);
        free(event->reg.secret);
        break;
    case EvRegisterReply:
        free(event->regReply.yourIp);
        free(event->regReply.callerId);
        break;
    default: break;
    }
    free(event);
}

IaxFrame* IaxCopyFrame(const IaxFrame* description)
{
    IaxFrame* copy = static_cast<IaxFrame*>(malloc(sizeof(IaxFrame)));
    size_t lengthBytes = static_cast<size_t>(description->length);
    unsigned char* bytes = static_cast<unsigned char*>(malloc(lengthBytes));
    if (!copy || !bytes) {
        free(copy);
        free(bytes);
        return nullptr;
    }
    *copy = *description;
    copy->data = static_cast<unsigned char*>(memcpy(bytes, description->data, lengthBytes));
    return copy;
}

void IaxFreeFrame(IaxFrame* frame)
{
    if (!frame)
        return;
    free(frame->data);
    free(frame);
}
