// Records of the IAX library and their release: sessions, queued frames,
// timer entries and events. The lowest layer above the clock and the wire
// format; it calls nothing else of the library.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "iax/clock.h"
#include "iax/iax.h"
#include "iax/wire.h"

constexpr int IaxDelayHistoryLength = 100;

// The lookup tables of the session list (iax/session.cpp), and a session's
// keys in them.
enum IaxSessionIndex {
    IaxByPeerCall,  // peer address and the peer's call number
    IaxByOwnCall,   // peer address and our call number, while the peer's is unknown
    IaxByTransfer,  // transfer address and our call number, while a transfer runs
    IaxByPointer,   // the record's address: which pointers are live
    IaxSessionIndexes
};

struct IaxSessionKeys {
    uint64_t keys[IaxSessionIndexes];
    bool listed[IaxSessionIndexes];
};

struct IaxSession {
    int quelched;
    int lastRxVoiceFormat;
    int lastTxVoiceFormat;
    uint32_t lastRxTimestamp;
    uint32_t lastTxTimestamp;
    uint32_t lastTxVoiceTimestamp;
    int retransmitBase;  // ms
    sockaddr_in peerAddress;
    int callNumber;
    int peerCallNumber;
    uint16_t outSeq;
    uint16_t ackSeq;
    IaxTime txTimeBase;
    IaxTime rxTimeBase;
    int rxTimeBaseSet;                            // rxTimeBase is set (a computed base can be zero)
    int32_t delayHistory[IaxDelayHistoryLength];  // ms, oldest first
    int32_t jitterBuffer;                         // ms
    int32_t jitter;                               // ms
    char peerName[IaxTextFieldBytes];
    char username[IaxTextFieldBytes];
    char secret[IaxTextFieldBytes];
    char authMethods[IaxTextFieldBytes];
    char challenge[12];
    int refresh;  // seconds
    sockaddr_in transferAddress;
    int transferState;  // 0 none, 1 probing, 2 transfer peer answered
    int transferCallNumber;
    int sentRegisterRequest;  // a REGREQ went out: a REGAUTH may be answered
    // Sequence numbers of the peer's frames handled lately: the newest, and
    // one bit per number up to 63 behind it (bit 0 the newest).
    int rxSeqSeen;  // 0 until the first sequenced frame
    uint16_t rxSeqNewest;
    uint64_t rxSeqWindow;
    // Hung up by the user: no longer live, kept only until the peer
    // acknowledges the HANGUP (or its resends give up).
    int closing;
    IaxSession* next;
    IaxSession* previous;
    uint64_t serial;  // creation order: a higher serial is a newer session
    IaxSessionKeys indexed;
    IaxSession* chained[IaxSessionIndexes];  // next in each lookup table's bucket
};

struct IaxFrame {
    IaxSession* session;
    unsigned char* data;
    int length;         // bytes
    int retriesLeft;    // -1 finished
    int retryInterval;  // ms
    int viaTransfer;
};

struct IaxTimerEntry {
    int seconds;
    int microseconds;
    IaxEvent* event;
    IaxFrame* frame;
    IaxTimerEntry* next;
};

// Zeroed heap record, or null. (IaxFreeEvent, its release, is public.)
IaxEvent* IaxNewEvent(void);
// A heap copy of the description that owns a copy of its bytes, or null.
IaxFrame* IaxCopyFrame(const IaxFrame* description);
void IaxFreeFrame(IaxFrame* frame);
