// One call the phone engine knows: its link's handle and its codec states.
#pragma once

#include "engine/call_link.h"
#include "engine/gsm_codec.h"

#include <ctime>

namespace velnar {

struct PhoneCall {
    time_t startTime = 0;
    GsmState decoder;            // made on the first GSM voice received
    GsmState encoder;            // made on the first GSM voice sent
    LinkCall session = nullptr;  // owned by the link
    uint32_t format = kLinkGsm;  // the codec of the speech we send
    bool ringing = false;        // an incoming call that waits for the user
    PhoneCall* next = nullptr;
};

}  // namespace velnar
