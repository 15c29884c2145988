// Internal records and process-wide state of the IAX library, and the
// functions its files share. Not for the library's users.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "iax/iax.h"
#include "iax/wire.h"

constexpr int IaxDelayHistoryLength = 100;

struct IaxTime {
    int32_t seconds;
    int32_t microseconds;
};

struct IaxSession {
    int quelched;
    int lastRxVoiceFormat;
    int lastTxVoiceFormat;
    uint32_t lastRxTimestamp;
    uint32_t lastTxTimestamp;
    uint32_t lastTxVoiceTimestamp;
    int retransmitBase;   // ms
    sockaddr_in peerAddress;
    int callNumber;
    int peerCallNumber;
    uint16_t outSeq;
    uint16_t ackSeq;
    IaxTime txTimeBase;
    IaxTime rxTimeBase;
    int32_t delayHistory[IaxDelayHistoryLength];   // ms, oldest first
    int32_t jitterBuffer;   // ms
    int32_t jitter;         // ms
    char peerName[IaxTextFieldBytes];
    char username[IaxTextFieldBytes];
    char secret[IaxTextFieldBytes];
    char authMethods[IaxTextFieldBytes];
    char challenge[12];
    int refresh;   // seconds
    sockaddr_in transferAddress;
    int transferState;   // 0 none, 1 probing, 2 transfer peer answered
    int transferCallNumber;
    IaxSession* next;
};

struct IaxFrame {
    IaxSession* session;
    unsigned char* data;
    int length;        // bytes
    int retriesLeft;   // -1 finished
    int retryInterval; // ms
    int viaTransfer;
};

struct IaxTimerEntry {
    int seconds;
    int microseconds;
    IaxEvent* event;
    IaxFrame* frame;
    IaxTimerEntry* next;
};

// ---- state (one instance) ----
extern int IaxSocket;
extern int IaxAdvertisedFormats;
extern int IaxNextCallNumber;
extern IaxSession* IaxSessionList;
extern IaxTimerEntry* IaxTimerList;
extern int IaxJitterBufferEnabled;

// Formats the message into IaxLastError, cut to 255 characters.
void IaxSetError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- clock ----
IaxTime IaxClock(void);
uint32_t IaxTicks(void);
uint32_t IaxTimestamp(IaxSession* session);
// Whole milliseconds from 'from' to 'to' (microsecond difference truncated).
int32_t IaxElapsedMs(IaxTime from, IaxTime to);

// ---- timers ----
int IaxSchedule(IaxEvent* event, IaxFrame* frame, int delayMs);
IaxTimerEntry* IaxTakeDue(IaxTime now);
void IaxClearTimers(void);
int IaxTimerCount(void);

// ---- sessions ----
IaxSession* IaxFindSession(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                           bool mayCreate);
bool IaxSessionMatches(const sockaddr_in* from, int16_t sourceCall, int16_t destCall,
                       IaxSession* session);
void IaxDestroyAllSessions(void);
int IaxSessionCount(void);
// Marks finished every queued frame that satisfies the predicate.
void IaxFinishFrames(bool (*matches)(const IaxFrame* frame, const void* context),
                     const void* context);

// ---- socket ----
int IaxSendDatagram(const unsigned char* bytes, int lengthBytes, const sockaddr_in* to);
// Receives one datagram into buffer (capacity bytes); returns its length,
// 0 with *wouldBlock set when nothing waits, or -1 after setting the error.
int IaxReceiveDatagram(unsigned char* buffer, int capacityBytes, sockaddr_in* from,
                       bool* wouldBlock);
int IaxWaitReadable(void);

// ---- sending ----
int IaxQueueFrame(const IaxFrame* description);
int IaxTransmit(const IaxFrame* frame);
void IaxFreeFrame(IaxFrame* frame);

// ---- receiving ----
IaxEvent* IaxReadDatagram(void);
IaxEvent* IaxProcessDatagram(unsigned char* buffer, int lengthBytes, const sockaddr_in* from);
IaxEvent* IaxHandleMiniFrame(IaxSession* session, const unsigned char* frame, int voiceBytes);
IaxEvent* IaxJitterDeliver(IaxEvent* event, uint32_t timestamp);
IaxEvent* IaxHandleFullFrame(IaxSession* session, unsigned char* frame, int payloadBytes);
void IaxSendAck(IaxSession* session, const unsigned char* frame);

// ---- events ----
IaxEvent* IaxNewEvent(void);   // zeroed heap record, or null
IaxEvent* IaxFilterEvent(IaxEvent* event);
