// The seam between the phone's call control and the protocol version that
// carries its calls. Call control, status texts, the audio path and the
// noise gate are the engine's and the same for both versions; a link knows
// how its version places, answers and ends calls, carries voice and touch
// tones, and what its library reports. Everything runs on the engine's
// thread.
#pragma once

#include "settings/call_target.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velnar {

// A call as its link knows it; owned by the link (version 1: the library's
// session). Null: none.
using LinkCall = void*;

enum class LinkEventType {
    Other,         // nothing the engine acts on for a known call
    Accepted,      // the server took our call; `format` is the codec it chose
    Answered,      // the far end answered: voice both ways
    Voice,         // `format`, `data`, `lengthBytes`: whole codec frames
    HungUp,        // the far end ended the call (also busy, congestion)
    Rejected,      // the call or its authentication was refused
    TimedOut,      // the far end stopped answering
    AuthRequest,   // a challenge the link does not answer by itself
    LagReply,      // `lagMs`
    Incoming,      // a new call rings here; `caller`, `format`
    Registration,  // `text`: "Registered", "Registration refused", "Not registered"
};

struct LinkEvent {
    LinkEventType type = LinkEventType::Other;
    LinkCall call = nullptr;
    // Never the start of a call: on a call the engine does not know, the
    // event only ends that call.
    bool endsCall = false;
    // False when the link ended the call as it handed the event out.
    bool callLive = true;
    // The call is over for good: the engine returns to idle.
    bool finished = false;
    uint32_t format = 0;
    const uint8_t* data = nullptr;  // valid until the next NextEvent
    int lengthBytes = 0;
    int lagMs = 0;
    bool md5Offered = false;  // of an AuthRequest
    std::string text;         // the far end's cause; the registration state
    int causeCode = -1;
    std::string caller;  // of an Incoming call: number, name or both
};

// The codec bits both versions use on the wire.
inline constexpr uint32_t kLinkGsm = 0x2;
inline constexpr uint32_t kLinkUlaw = 0x4;
inline constexpr uint32_t kLinkAlaw = 0x8;

class CallLink {
public:
    // format, frames, the sender's stamp and our clock at arrival (ms).
    using ArrivalFn = std::function<void(LinkCall, uint32_t, int, uint32_t, uint32_t)>;

    virtual ~CallLink() = default;
    virtual int Version() const = 0;
    // localPort 0: the version's own port. Returns the bound port or -1.
    virtual int Open(int localPort) = 0;
    virtual int SocketHandle() const = 0;
    // Whether datagrams are read before the first call (a registration
    // brings incoming calls).
    virtual bool ListensFromStart() const = 0;
    // Milliseconds until timed work is due, 0 when due, -1 for none.
    virtual int NextDueMs() const = 0;
    // Reads waiting datagrams and runs due timers, before NextEvent.
    virtual void Service() = 0;
    virtual bool NextEvent(LinkEvent& event) = 0;
    // Offers the codecs once sound works (version 1 keeps GSM only).
    virtual void OfferCodecs() = 0;
    // The codecs of the next calls, most preferred first (version 2).
    virtual void UseCodecs(const std::vector<uint32_t>& formats) = 0;
    // Voice arrivals as they come off the wire, before any jitter buffer.
    virtual void OnArrival(ArrivalFn fn) = 0;

    virtual LinkCall NewCall() = 0;
    // address: the server's numeric address (empty: the host as given).
    virtual int PlaceCall(LinkCall call, const CallTarget& target, const std::string& address) = 0;
    virtual int PlaceCall(LinkCall call, const std::string& dialString) = 0;
    virtual void TakeIncoming(LinkCall call) = 0;
    virtual void RefuseIncoming(LinkCall call, const std::string& reason) = 0;
    // Whether the user answers or declines an incoming call (else it
    // follows the far end).
    virtual bool UserAnswers() const = 0;
    virtual void Answer(LinkCall call) = 0;
    // Ends the call on the wire (declines an incoming one that rings); the
    // handle is not used again.
    virtual void HangUp(LinkCall call) = 0;
    // Forgets a call without a word on the wire where the version allows.
    virtual void Forget(LinkCall call) = 0;
    virtual int SendVoice(LinkCall call, uint32_t format, const uint8_t* data, int lengthBytes,
                          int samples) = 0;
    virtual int SendTone(LinkCall call, char digit) = 0;
    virtual void RequestLag(LinkCall call) = 0;
    // The jitter buffer's delay; -1 when unknown.
    virtual int JitterMs(LinkCall call) const = 0;
    // Hang-ups and releases still waiting for the far end's acknowledgement.
    virtual int Unacknowledged() const = 0;

    // Registration (version 2). host is a numeric address.
    virtual void Register(const CallTarget& account, const std::string& host) = 0;
    virtual void Unregister() = 0;
    virtual std::string RegistrationState() const = 0;
};

std::unique_ptr<CallLink> MakeIax1Link();
std::unique_ptr<CallLink> MakeIax2Link(const std::vector<uint32_t>& formats);

}  // namespace velnar
