// What the endpoint tells its user, one record per happening, handed out in
// order by Endpoint::NextEvent. Layer: bottom (plain records).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iax2 {

enum class EventType {
    Accepted,      // the exchange took our call; `format` is the codec it chose
    Proceeding,    // the call went on to a further element
    Ringing,       // the called party is being alerted
    Answered,      // the called party answered: voice both ways
    Voice,         // `format`, `payload`, `samples`, `timestamp` (early media too)
    Dtmf,          // `digit` pressed at the far end
    Hangup,        // the far end hung up; `text`/`causeCode` when it said why
    Rejected,      // the call was refused (also a failed challenge)
    Busy,          // the called party is busy; the call is over
    Congestion,    // the network is congested; the call is over
    Timeout,       // the far end stopped answering; the call is over
    IncomingCall,  // `number`, `name`, `formats` offered, `format` we accepted
    Held,          // the far end asked us to stop sending voice
    Resumed,       // ... and to send again
    Registration,  // `text` is "Registered", "Registration refused" or "Not registered"
};

struct Event {
    EventType type = EventType::Hangup;
    int call = 0;  // the call's handle as PlaceCall returned it; 0 for registration
    uint32_t format = 0;
    uint32_t formats = 0;
    std::vector<uint8_t> payload;  // codec octets, whole 20 ms codec frames
    int samples = 0;               // 8 kHz samples the payload decodes to
    uint32_t timestamp = 0;        // ms on the far end's call clock
    std::string text;              // cause text, registration state
    int causeCode = -1;            // -1: none given
    std::string number;            // caller's number
    std::string name;              // caller's display name
    char digit = 0;
};

}  // namespace iax2
