// One dialog the endpoint holds: a call in either direction, or one
// registration exchange. A plain record; the endpoint drives it.
// Layer: above transport.h and jitter.h.
#pragma once

#include <cstdint>
#include <string>

#include "iax2/jitter.h"
#include "iax2/transport.h"

namespace iax2 {

enum class SessionKind { OutgoingCall, IncomingCall, Registration };

enum class SessionState {
    Opening,  // request sent (NEW, REGREQ, REGREL); no answer yet
    Linked,   // call accepted, not yet answered
    Up,       // answered: voice both ways
    Closing,  // our HANGUP awaits its ACK; the user has forgotten the call
};

struct Session {
    Session(uint64_t nowMs, TransportLimits limits, uint32_t jitterDelayMs)
        : transport(nowMs, limits), jitter(jitterDelayMs)
    {}

    SessionKind kind = SessionKind::OutgoingCall;
    SessionState state = SessionState::Opening;
    Transport transport;
    JitterBuffer jitter;

    // The request that opened the dialog, kept to resend it with a token.
    uint8_t openingCommand = 0;
    Bytes openingIes;
    int tokenRounds = 0;
    bool challenged = false;  // an MD5 answer was already sent once
    bool releasing = false;   // registration: this exchange is a REGREL
    std::string username, password;

    // Voice we send.
    uint32_t format = 0;           // the agreed codec
    uint32_t sentVoiceFormat = 0;  // codec of our last full voice frame, 0 before it
    uint32_t lastVoiceStamp = 0;
    bool quelched = false;
    // Voice we receive.
    uint32_t heardFormat = 0;     // codec of the last full voice frame received
    uint32_t lastHeardStamp = 0;  // newest voice time stamp received
    bool heardFull = false;

    uint64_t nextPingMs = 0;
    uint32_t offeredFormats = 0;  // outgoing: what we offered; incoming: the caller's
};

}  // namespace iax2
