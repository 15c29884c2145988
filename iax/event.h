// The event interface's filter, which every event passes just before it is
// handed out (IaxNextEvent and IaxFreeEvent are public).
#pragma once

#include "iax/iax.h"

// The event to hand out, or null when it was consumed (answered inside the
// library, or its session is gone).
IaxEvent* IaxFilterEvent(IaxEvent* event);
