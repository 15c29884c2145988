// Public interface of the IAX version 2 client library.
//
// One Endpoint owns its UDP socket, its dialogs (calls and registration),
// its clock and its event queue; there is no process-wide state, so several
// endpoints may live side by side. Nothing runs on its own: the user calls
// Service() when the socket (handle()) is readable or NextDueMs() has
// passed, then drains NextEvent(). Everything runs on the caller's thread;
// nothing throws. Failures return -1 and leave a message in LastError().
//
// Ownership and units: payloads are copied in and out (the caller keeps its
// buffers); times are milliseconds of the endpoint's clock; voice is 8 kHz,
// counted in samples; formats are the single wire bits kFormatUlaw (0x4),
// kFormatAlaw (0x8) and kFormatGsm (0x2) of iax2/codes.h.
//
// A call's handle stays valid until an event ends it (Hangup, Rejected,
// Busy, Congestion, Timeout) or the user calls Hangup(); after either, no
// event names it again. An IncomingCall rings until Answer() or Hangup().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "iax2/clock.h"
#include "iax2/codes.h"
#include "iax2/event.h"
#include "iax2/guard.h"
#include "iax2/ies.h"
#include "iax2/session.h"
#include "iax2/socket.h"

namespace iax2 {

struct EndpointOptions {
    Clock clock = MonotonicMs;
    // Where call numbers come from; empty: the system's random source. A
    // replacement (for reproducible fuzzing) may return taken or zero
    // numbers: those are skipped.
    std::function<uint16_t()> callNumbers;
    TransportLimits transport;
    uint32_t jitterDelayMs = 60;           // 0: voice is handed out as it arrives
    int maxUnansweredIncoming = 4;         // further NEWs are refused
    int repliesPerSecond = 10;             // per stranger's address
    uint32_t pingIntervalMs = 20000;       // on calls in progress
    uint32_t endedCallMemoryMs = 10000;    // INVAL window for ended calls
    uint32_t registrationRetryMs = 60000;  // after a registration went unanswered
    // The codecs we accept, most preferred first.
    std::vector<uint32_t> formats = {kFormatUlaw, kFormatAlaw, kFormatGsm};
};

struct CallRequest {
    std::string user;      // account name (USERNAME); may be empty
    std::string password;  // only ever used for the MD5 answer
    std::string host;      // dotted IPv4 address of the exchange
    int port = kDefaultPort;
    std::string number;  // the number called
    std::string callingNumber, callingName, context;
    // Codecs offered, most preferred first; empty: the endpoint's list.
    std::vector<uint32_t> formats;
};

// What became of the HANGUPs we sent (after Hangup(), or when a busy,
// congested or failed call was ended by us). The call's handle is gone by
// then, so the outcome is only counted; a user that must know, such as a
// measurement of a lossy path, compares the counts before and after.
struct HangupCounts {
    uint64_t acknowledged = 0;  // ACKed, explicitly or by a later frame's ISeqno
    uint64_t invalidated = 0;   // answered with INVAL: the far end had no such call
    uint64_t unanswered = 0;    // the retries ran out
};

struct RegistrationRequest {
    std::string user, password;
    std::string host;  // dotted IPv4 address of the registrar
    int port = kDefaultPort;
    int refreshSeconds = 60;  // asked for; the registrar's answer rules
};

class Endpoint {
public:
    explicit Endpoint(EndpointOptions options = {});
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // port > 0 binds exactly that port, 0 an ephemeral one, -1 (the
    // default) 4569 when it is free and an ephemeral port otherwise.
    // Returns the bound port (also port()), or -1.
    int Open(int port = -1);
    int port() const { return m_socket.port(); }
    // The codecs accepted from now on, most preferred first (of 0x2, 0x4, 0x8).
    int SetFormats(const std::vector<uint32_t>& formats);
    int handle() const { return m_socket.handle(); }

    // Places a call; returns its handle (> 0) or -1.
    int PlaceCall(const CallRequest& request);
    int Answer(int call);
    // Ends a call of ours in any state (declines a ringing incoming one).
    int Hangup(int call, const std::string& cause = "Normal clearing",
               uint8_t causeCode = kCauseNormalClearing);
    // One voice frame: `payload` in `format`, decoding to `samples` samples.
    int SendVoice(int call, uint32_t format, ByteView payload, int samples);
    int SendDtmf(int call, char digit);

    // Registers (and keeps registering) so that the registrar's calls reach
    // us; incoming calls are taken from the registrar's address only.
    int Register(const RegistrationRequest& request);
    int Unregister();
    std::string RegistrationState() const { return m_registrationText; }

    const HangupCounts& Hangups() const { return m_hangups; }

    // Hangs up every call and releases the registration, waiting at most
    // deadlineMs (real time) for the far ends to acknowledge.
    void ReleaseAll(int deadlineMs);
    // Calls and registration exchanges still open: hang-ups and releases
    // that wait for the far end's acknowledgement among them.
    int OpenSessions() const { return int(m_sessions.size()); }

    // Reads every waiting datagram and runs every due timer.
    void Service();
    // One datagram as if the socket had just delivered it.
    void HandleDatagram(ByteView datagram, Peer from);
    // Milliseconds until Service() has timed work, 0 when due, -1 for none.
    int NextDueMs() const;
    bool NextEvent(Event* event);
    const std::string& LastError() const { return m_error; }

private:
    using SessionPtr = std::unique_ptr<Session>;

    // endpoint.cpp: routing and timers.
    uint64_t Now() const { return m_options.clock(); }
    int Fail(const std::string& message);
    uint16_t NewCallNumber();
    Session* CreateSession(SessionKind kind, Peer peer);
    Session* FindCall(int call);
    Session* FindByRemote(Peer peer, uint16_t remoteCall);
    void Destroy(Session* session);
    void Emit(Event event);
    void EmitCall(EventType type, const Session& session, const Ies* ies = nullptr);
    void SendRaw(const Bytes& bytes, Peer to);
    void SendFrames(const std::vector<Bytes>& frames, Peer to);
    bool Send(Session* session, uint8_t type, uint32_t subclass, ByteView data = {});
    void SendAck(Session* session, const FullHeader& header);
    void ResendFrom(Session* session, uint8_t iseqno);
    void HandleFull(ByteView datagram, Peer from);
    void HandleMini(ByteView datagram, Peer from);
    void HandleStranger(const FullHeader& header, ByteView data, Peer from);
    void HandleOnSession(Session* session, const FullHeader& header, ByteView data);
    void Dispatch(Session* session, const FullHeader& header, ByteView data);
    void Reply(Peer to, const FullHeader& header, uint8_t subclass, uint16_t source, size_t limit);
    void ServiceTimers();
    void ServiceSession(Session* session, uint64_t now);
    void SendOpening(Session* session, const std::string& token);
    void CloseCall(Session* session, const std::string& cause, uint8_t causeCode);
    void FinishClosing(Session* session, uint64_t* outcome);
    void FailCall(Session* session, EventType type, const std::string& cause, uint8_t causeCode);
    Session* OpeningSessionFor(Peer from, uint16_t destination);

    // call_flow.cpp: call signalling.
    void HandleCommand(Session* session, const FullHeader& header, const Ies& ies);
    void HandleControl(Session* session, const FullHeader& header);
    void HandleCallToken(Session* session, const Ies& ies);
    void HandleAuthRequest(Session* session, const Ies& ies);
    void HandleAccept(Session* session, const Ies& ies);
    void EndByFarEnd(Session* session, EventType type, const Ies* ies);
    void HandleNew(const FullHeader& header, ByteView data, Peer from);
    uint32_t ChooseFormat(const Ies& ies) const;
    bool AllowedCaller(Peer from) const;
    int CountUnanswered() const;
    void SendUnsupported(Session* session, uint8_t subclass);
    Bytes NewIes(const CallRequest& request, const std::vector<uint32_t>& formats) const;

    // voice.cpp: media.
    void HandleVoice(Session* session, const FullHeader& header, ByteView data);
    void AcceptVoice(Session* session, uint32_t stamp, ByteView payload);
    void DrainJitter(Session* session, uint64_t now);

    // registration.cpp: registration with refresh and release.
    void StartRegistration(bool releasing);
    void HandleRegistration(Session* session, const FullHeader& header, const Ies& ies);
    void RegistrationEnded(Session* session, const std::string& state, bool refresh);
    void SetRegistrationState(const std::string& text);
    void ServiceRegistration(uint64_t now);
    Bytes RegistrationIes(const Session& session, const std::string& md5) const;

    EndpointOptions m_options;
    UdpSocket m_socket;
    std::string m_error;
    std::map<uint16_t, SessionPtr> m_sessions;
    std::deque<Event> m_events;
    HangupCounts m_hangups;
    ReplyBudget m_budget;
    EndedCalls m_ended;
    std::mt19937 m_random;
    Bytes m_receiveBuffer;

    // Registration.
    bool m_registrationWanted = false;
    RegistrationRequest m_registration;
    Peer m_registrar;
    std::string m_registrationText = "Not registered";
    uint64_t m_nextRegistrationMs = UINT64_MAX;
    uint16_t m_registrationCall = 0;
};

}  // namespace iax2
