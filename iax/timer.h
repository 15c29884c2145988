// The timer list: retransmission checks of queued frames and parked events,
// in due-time order.
#pragma once

#include "iax/clock.h"
#include "iax/records.h"

extern IaxTimerEntry* IaxTimerList;

// Due after delayMs; exactly one of event and frame is given. 0, or -1.
int IaxSchedule(IaxEvent* event, IaxFrame* frame, int delayMs);
// The first entry due at 'now' (or within the early-serve allowance after
// it, see IaxSetEarlyServeMs), unlinked, or null.
IaxTimerEntry* IaxTakeDue(IaxTime now);
void IaxClearTimers(void);
int IaxTimerCount(void);
// Marks finished every queued frame that satisfies the predicate.
void IaxFinishFrames(bool (*matches)(const IaxFrame* frame, const void* context),
                     const void* context);
// A session goes: its queued frames stay, finished and without a session
// (freed unsent when due); its parked events are freed at once.
void IaxForgetSession(const IaxSession* session);
// Whether a queued frame of the session is still to be delivered.
bool IaxHasPendingFrames(const IaxSession* session);
