// One call the phone engine knows: its library session and its codec states.
#pragma once

#include "engine/gsm_codec.h"

#include <ctime>

struct IaxSession;

namespace velnar {

struct PhoneCall {
    time_t startTime = 0;
    GsmState decoder;               // made on the first voice received
    GsmState encoder;               // made on the first voice sent
    IaxSession* session = nullptr;  // owned by the IAX library
    PhoneCall* next = nullptr;
};

}  // namespace velnar
