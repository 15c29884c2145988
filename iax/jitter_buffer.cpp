// Layer: jitter buffer. Decides when a timed event is handed out: now,
// parked in the timer list until its playout time, or (late voice) never.
// Calls the records, the timer list and the clock.
#include "iax/jitter_buffer.h"

#include <cstring>

#include "iax/clock.h"
#include "iax/records.h"
#include "iax/timer.h"

int IaxJitterBufferEnabled = 1;

namespace {

IaxVoiceArrivalFn arrivalHook = nullptr;
void* arrivalHookUser = nullptr;

constexpr int kDiscardedPeaks = 3;
constexpr int kShrinkThresholdMs = 50;
constexpr int kShrinkStepMs = 2;
constexpr int kMaximumSpreadMs = 4000;
constexpr int kLatenessToleranceMs = 3;
constexpr int32_t kStartingMaximum = -99999999;

// Smallest delay, and the target: the 4th largest delay, duplicates
// counted, found among values above the starting maximum (so it stays the
// starting maximum when fewer than four delays exceed it). Equal to four
// passes that each take the largest value not yet chosen, in one pass.
void ScanHistory(const int32_t* history, int32_t* smallest, int32_t* target)
{
    int32_t largest[kDiscardedPeaks + 1];
    for (int32_t& value : largest)
        value = kStartingMaximum;
    int32_t low = history[0];
    for (int i = 0; i < IaxDelayHistoryLength; ++i) {
        int32_t delay = history[i];
        if (delay < low)
            low = delay;
        if (delay <= largest[kDiscardedPeaks])
            continue;
        int slot = kDiscardedPeaks;
        while (slot > 0 && delay > largest[slot - 1]) {
            largest[slot] = largest[slot - 1];
            --slot;
        }
        largest[slot] = delay;
    }
    *smallest = low;
    *target = largest[kDiscardedPeaks];
}

int32_t Clamp32(int64_t value)
{
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : int32_t(value);
}

}  // namespace

void IaxSetVoiceArrivalHook(IaxVoiceArrivalFn hook, void* user)
{
    arrivalHook = hook;
    arrivalHookUser = user;
}

IaxEvent* IaxJitterDeliver(IaxEvent* event, uint32_t timestamp)
{
    IaxSession* session = event->session;
    if (arrivalHook && event->type == EvVoice)
        arrivalHook(event, timestamp, IaxTicks(), arrivalHookUser);
    IaxTime now = IaxClock();
    if (!session->rxTimeBaseSet) {
        // The first timed event sets the base so that its own delay is 0: a
        // peer that lets time pass between its session start and its first
        // frame (a slow answer) must not hold every later event by as much.
        session->rxTimeBase = IaxTimeBefore(now, timestamp);
        session->rxTimeBaseSet = 1;
    }
    int32_t arrival = IaxElapsedMs(session->rxTimeBase, now);
    // Modular difference: peer time stamps can be anything.
    int32_t delay = static_cast<int32_t>(static_cast<uint32_t>(arrival) - timestamp);
    if (delay > 32768)
        delay -= 65536;
    else if (delay < -32768)
        delay += 65536;

    int32_t* history = session->delayHistory;
    memmove(history, history + 1, (IaxDelayHistoryLength - 1) * sizeof *history);
    history[IaxDelayHistoryLength - 1] = delay;

    // 64-bit arithmetic: hostile time stamps make delays span the whole
    // 32-bit range, and their differences must not overflow.
    int32_t lowest = 0;
    int32_t fourthLargest = 0;
    ScanHistory(history, &lowest, &fourthLargest);
    int64_t smallest = lowest;
    int64_t target = fourthLargest;
    session->jitter = Clamp32(target - smallest);
    if (target < int64_t(session->jitterBuffer) - kShrinkThresholdMs)
        session->jitterBuffer -= kShrinkStepMs;
    if (target > smallest + kMaximumSpreadMs)
        target = smallest + kMaximumSpreadMs;
    if (target > session->jitterBuffer)
        session->jitterBuffer = Clamp32(target);

    if (!IaxJitterBufferEnabled)
        return event;
    int64_t waitMs = int64_t(session->jitterBuffer) - delay;
    if (waitMs >= 1) {
        // Never park longer than the buffer's own maximum spread: a playout
        // delay left over from wild earlier delays would otherwise hold
        // events (and their memory) for days.
        if (waitMs > kMaximumSpreadMs)
            waitMs = kMaximumSpreadMs;
        if (IaxSchedule(event, nullptr, static_cast<int>(waitMs)) != 0)
            IaxFreeEvent(event);
        return nullptr;
    }
    if (waitMs >= -kLatenessToleranceMs || event->type != EvVoice)
        return event;
    IaxFreeEvent(event);
    return nullptr;
}
