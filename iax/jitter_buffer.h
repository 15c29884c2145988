// The jitter buffer of received timed events.
#pragma once

#include <cstdint>

#include "iax/iax.h"

extern int IaxJitterBufferEnabled;  // 0: every event is handed out at once

// Takes the owned event with its time stamp (ms); returns it when it is to be
// handed out now, or null when it was parked in the timer list or dropped.
IaxEvent* IaxJitterDeliver(IaxEvent* event, uint32_t timestamp);
