// Layer: timer list. Keeps entries in due-time order; frees what it holds
// through the records. Calls the records and the clock.
#include <cstdlib>

#include "iax/iax.h"
#include "iax/timer.h"

IaxTimerEntry* IaxTimerList = nullptr;

namespace {

int earlyServeMs = 0;

bool DueNoLaterThan(const IaxTimerEntry* entry, int seconds, int microseconds)
{
    return entry->seconds < seconds ||
           (entry->seconds == seconds && entry->microseconds <= microseconds);
}

}  // namespace

int IaxSchedule(IaxEvent* event, IaxFrame* frame, int delayMs)
{
    if (!event && !frame)
        return -1;
    IaxTimerEntry* entry = static_cast<IaxTimerEntry*>(calloc(1, sizeof(IaxTimerEntry)));
    if (!entry)
        return -1;
    IaxTime now = IaxClock();
    entry->seconds = now.seconds + delayMs / 1000;
    entry->microseconds = now.microseconds + (delayMs % 1000) * 1000;
    if (entry->microseconds >= 1000000) {
        entry->microseconds -= 1000000;
        entry->seconds += 1;
    }
    entry->event = event;
    entry->frame = frame;
    // After every entry due earlier or at the same time, so equal due times
    // keep their scheduling order.
    IaxTimerEntry** link = &IaxTimerList;
    while (*link && DueNoLaterThan(*link, entry->seconds, entry->microseconds))
        link = &(*link)->next;
    entry->next = *link;
    *link = entry;
    return 0;
}

void IaxSetEarlyServeMs(int ms)
{
    earlyServeMs = ms < 0 ? 0 : ms > IaxMaxEarlyServeMs ? IaxMaxEarlyServeMs : ms;
}

IaxTimerEntry* IaxTakeDue(IaxTime now)
{
    int32_t microseconds = now.microseconds + earlyServeMs * 1000;
    int32_t seconds = now.seconds + microseconds / 1000000;
    microseconds %= 1000000;
    IaxTimerEntry* first = IaxTimerList;
    if (!first || !DueNoLaterThan(first, seconds, microseconds))
        return nullptr;
    IaxTimerList = first->next;
    first->next = nullptr;
    return first;
}

int IaxNextDueMs(void)
{
    if (!IaxTimerList)
        return -1;
    IaxTime now = IaxClock();
    IaxTime due = {IaxTimerList->seconds, IaxTimerList->microseconds};
    int64_t ms = (int64_t(due.seconds) - now.seconds) * 1000 +
                 (int64_t(due.microseconds) - now.microseconds) / 1000;  // both whole ms
    if (ms <= 0)
        return 0;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

void IaxClearTimers(void)
{
    while (IaxTimerList) {
        IaxTimerEntry* entry = IaxTimerList;
        IaxTimerList = entry->next;
        IaxFreeEvent(entry->event);
        IaxFreeFrame(entry->frame);
        free(entry);
    }
}

int IaxTimerCount(void)
{
    int count = 0;
    for (IaxTimerEntry* entry = IaxTimerList; entry; entry = entry->next)
        ++count;
    return count;
}

void IaxFinishFrames(bool (*matches)(const IaxFrame* frame, const void* context),
                     const void* context)
{
    for (IaxTimerEntry* entry = IaxTimerList; entry; entry = entry->next)
        if (entry->frame && matches(entry->frame, context))
            entry->frame->retriesLeft = -1;
}

void IaxForgetSession(const IaxSession* session)
{
    IaxTimerEntry** link = &IaxTimerList;
    while (*link) {
        IaxTimerEntry* entry = *link;
        if (entry->frame && entry->frame->session == session) {
            entry->frame->retriesLeft = -1;
            entry->frame->session = nullptr;
        } else if (entry->event && entry->event->session == session) {
            *link = entry->next;
            IaxFreeEvent(entry->event);
            free(entry);
            continue;
        }
        link = &entry->next;
    }
}

bool IaxHasPendingFrames(const IaxSession* session)
{
    for (IaxTimerEntry* entry = IaxTimerList; entry; entry = entry->next)
        if (entry->frame && entry->frame->session == session && entry->frame->retriesLeft >= 0)
            return true;
    return false;
}
