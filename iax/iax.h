// Public interface of the IAX version 1 client library.
//
// A procedural library over process-wide state: it owns one UDP socket, the
// session list and one timer list. Nothing runs on its own: retransmissions,
// time-outs and delayed (jitter-buffered) events are serviced only inside
// IaxNextEvent. All functions run on the caller's one thread; nothing throws.
// Failures return -1 (or null) and leave a message in IaxLastError.
#pragma once

#include <cstdint>
#include <cstdio>

enum IaxEventType {
    EvNewCall = 0,
    EvAccept = 1,
    EvHangup = 2,
    EvReject = 3,
    EvVoice = 4,
    EvDtmf = 5,
    EvTimeout = 6,
    EvLagRequest = 7,
    EvLagReply = 8,
    EvRinging = 9,
    EvPing = 10,
    EvPong = 11,
    EvBusy = 12,
    EvAnswer = 13,
    EvImage = 14,
    EvAuthRequest = 15,
    EvAuthReply = 16,
    EvRegister = 17,
    EvRegisterReply = 18,
    EvUrl = 19,
    EvLoadComplete = 20,
    EvTransferred = 21,
    EvDialPlanRequest = 22,
    EvDialPlanReply = 23,
    EvDial = 24,
    EvQuelch = 25,
    EvUnquelch = 26,
    EvUnlink = 27,
    EvLinkReject = 28,
    EvText = 29,
    // Internal requests with which the receive side makes the send side answer.
    EvRegisterAuth = 999,
    EvTransferCount = 1000,
    EvTransferReject = 1001,
    EvTransferAccept = 1002,
    EvTransferReady = 1003,
};

// One call or registration with one peer. The full record is internal
// (iax/session.h); users hold plain pointers, meaningful while
// IaxSessionIsLive says so.
struct IaxSession;

constexpr int IaxEventPayloadBytes = 8192;
constexpr int IaxMaxPayload = 32756;  // bytes of payload in one outbound full frame
constexpr int IaxDefaultPort = 5036;

// Authentication methods (bit mask in authRequest.methods, value in authReply.method).
constexpr int IaxAuthPlaintext = 1;
constexpr int IaxAuthMd5 = 2;

// The one record exchanged between the library and its user, both ways.
// Text fields are separately allocated NUL-terminated strings (or null);
// an event returned by IaxNextEvent owns them until IaxFreeEvent.
struct IaxEvent {
    int type;
    IaxSession* session;  // not owned
    union {
        struct {
            char* callerId;
            char* dnid;
            char* context;
            char* exten;
            char* username;
            char* host;    // out: server to call; in: dotted address of the caller
            char* secret;  // outbound only
            char* language;
            unsigned short port;  // outbound only
            int formats;
            int version;
        } call;
        struct {
            int format;  // the one format bit of the data
            unsigned char* data;
            int length;  // bytes
        } media;
        struct {
            char* text;
        } reason;
        struct {
            char* number;
        } number;
        struct {
            char digit;
        } digit;
        struct {
            unsigned int timestamp;  // ms
            unsigned short sequence;
        } ts;
        struct {
            int lag;     // ms
            int jitter;  // ms
        } lag;
        struct {
            int methods;  // IaxAuthPlaintext | IaxAuthMd5
            char* challenge;
            char* username;
        } authRequest;
        struct {
            int method;
            char* secret;  // plain secret or 32 lowercase hex digits of MD5
        } authReply;
        struct {
            char* host;
            unsigned short port;
            char* peer;
            char* secret;
            int refresh;  // seconds
        } reg;
        struct {
            int result;  // 1 acknowledged, 2 rejected
            char* yourIp;
            char* callerId;
            unsigned short yourPort;
            int refresh;  // seconds
        } regReply;
        struct {
            int link;  // 0 plain URL, 1 link URL
            char* url;
        } url;
        struct {
            char* address;  // dotted decimal
            int port;       // host order
        } transfer;
        struct {
            char* number;
            int exists;
            int canExist;
            int nonExistent;
            int ignorePattern;
            int expiry;  // seconds, never negative
        } dpReply;
        struct {
            char text[IaxEventPayloadBytes];  // at most 8191 characters and a NUL
        } text;
        unsigned char payloadBytes[IaxEventPayloadBytes];
    };
};

// ---- Process-wide state -------------------------------------------------
extern int IaxClockOffset;      // ms added to the tick count by the clock
extern char IaxLastError[256];  // message of the last failure
extern int IaxMaxRetries;       // retransmissions of a full frame before giving up (10)

// ---- Diagnostics ----------------------------------------------------------
// The stream for the library's progress lines ("Scheduling retransmission",
// "Got dialplan reply", "Release: text is"); the phone engine writes its own
// ("Answering call!") there too. Standard output unless a program chooses
// another (the console phone keeps its standard output for status texts);
// null restores standard output.
void IaxSetDiagnosticStream(FILE* stream);
FILE* IaxDiagnosticStream(void);

// ---- Socket ---------------------------------------------------------------
// port 0 binds IaxDefaultPort (5036); a positive port binds that port; a
// negative port means "no explicit port": the socket is bound to an
// ephemeral port chosen by the system. Returns the bound port, 0 when a
// socket is open already, -1 on failure.
int IaxOpenSocket(int port);
void IaxCloseSocket(void);
int IaxSocketHandle(void);  // -1 when no socket is open

// ---- Time -----------------------------------------------------------------
// Replaces the millisecond tick source (for tests); null restores the
// monotonic system clock.
void IaxSetTickSource(uint32_t (*ticks)(void));
// Milliseconds until the earliest timer entry is due (0 if already due), or
// -1 when the timer list is empty. Call IaxNextEvent then to service it.
int IaxNextDueMs(void);
// Lets IaxNextEvent serve timer entries (retransmissions, jitter-buffered
// events) up to `ms` milliseconds before they are due, at most 10; 0, the
// default, serves none early. An entry due just after a wake then rides
// that wake instead of waking the caller again.
constexpr int IaxMaxEarlyServeMs = 10;
void IaxSetEarlyServeMs(int ms);

// ---- Sessions -------------------------------------------------------------
IaxSession* IaxNewSession(void);
void IaxDestroySession(IaxSession* session);
int IaxSessionIsLive(IaxSession* session);

// ---- Outbound operations ----------------------------------------------------
// Each returns 0 when the request was handled, -1 on failure.
void IaxSetFormats(int formats);
int IaxSendEvent(IaxSession* session, IaxEvent* request);
// dialString: [user[:password]@]host[:port][/number[@context]]
int IaxPlaceCall(IaxSession* session, const char* callerId, const char* dialString,
                 const char* language);
// The fields of a call placed without a dial string, so that any of them may
// hold the dial string's separators ("@", ":", "/"). Null or empty texts are
// absent; number is both the extension and the dialled number.
struct IaxCallFields {
    const char* username;
    const char* secret;  // at most IaxMaxSecretChars; never sent in the NEW
    const char* host;    // host name or dotted address
    int port;            // 1..65535
    const char* number;
    const char* context;
};
constexpr int IaxMaxSecretChars = 79;
// -1 without sending anything when the host is empty, the port is outside
// 1..65535, the user name or secret is longer than IaxMaxSecretChars or a
// text holds a character that would break the request's key=value text.
int IaxPlaceCallFields(IaxSession* session, const IaxCallFields* fields);
int IaxAcceptCall(IaxSession* session);
int IaxSendRinging(IaxSession* session);
int IaxAnswerCall(IaxSession* session);
int IaxSendBusy(IaxSession* session);
int IaxRejectCall(IaxSession* session, const char* reason);
int IaxHangUp(IaxSession* session, const char* reason);
int IaxSendTouchTone(IaxSession* session, char digit);
int IaxSendVoice(IaxSession* session, int format, const unsigned char* data, int lengthBytes);
int IaxSendImage(IaxSession* session, int format, const unsigned char* data, int lengthBytes);
int IaxSendUrl(IaxSession* session, const char* url, int link);
int IaxSendLoadComplete(IaxSession* session);
int IaxSendUnlink(IaxSession* session);
int IaxSendLinkReject(IaxSession* session);
int IaxSendText(IaxSession* session, const char* text);
int IaxSendAuthReply(IaxSession* session, const char* secret, const char* challenge, int methods);
int IaxAuthReply(IaxSession* session, const char* secret, const char* challenge,
                 int methods);  // same as IaxSendAuthReply
// port 0 means IaxDefaultPort; refreshSeconds 0 writes no "refresh=".
int IaxRegister(IaxSession* session, const char* host, int port, const char* peer,
                const char* secret, int refreshSeconds);
int IaxDialPlanRequest(IaxSession* session, const char* number);
int IaxDial(IaxSession* session, const char* number);
int IaxQuelch(IaxSession* session);
int IaxUnquelch(IaxSession* session);
int IaxLag(IaxSession* session);  // sends a lag request; the reply arrives as EvLagReply

// ---- Events ---------------------------------------------------------------
// Services due timer entries, then reads at most one datagram (waiting for
// one when blocking is not 0). Returns an owned event or null.
IaxEvent* IaxNextEvent(int blocking);
void IaxFreeEvent(IaxEvent* event);
