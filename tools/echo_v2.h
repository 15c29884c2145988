// The echo service's version-2 side: answers every call on its own socket,
// demands a call token before it keeps any state, challenges with MD5 when
// it has a password, and sends each voice frame straight back (full as
// full, mini as mini). It is also a registrar: it remembers where each user
// registered and, when asked to, rings them there once and echoes their
// voice when they answer. On calls it resends what goes unacknowledged and
// keeps an ended call a while, so that it stays a fair partner on a lossy
// path; a registration exchange is answered again when it is repeated.
#pragma once

#include "iax2/codes.h"
#include "iax2/guard.h"
#include "iax2/ies.h"
#include "iax2/wire.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace echo2 {

using Clock = std::chrono::steady_clock;
using iax2::Bytes;
using iax2::ByteView;

constexpr uint32_t kFormatsWeEcho = iax2::kFormatUlaw | iax2::kFormatAlaw | iax2::kFormatGsm;
// Past these a flood of admitted requests is refused rather than stored:
// one address cannot take every place.
constexpr size_t kMaxDialogs = 512;
constexpr size_t kMaxDialogsPerAddress = 16;

// Shared by the service's files.
std::string Describe(const sockaddr_in& address);
bool SameAddress(const sockaddr_in& a, const sockaddr_in& b);
std::string RandomHex(size_t bytes);
std::string Md5Hex(const std::string& first, const std::string& second);
uint64_t SecondsNow();

struct Options {
    int answerDelayMs = 300;
    std::string password;       // empty: calls and registrations are taken unchallenged
    int ringRegisteredMs = -1;  // -1: registered users are never called
    std::function<void(const std::string&)> say;
};

enum class DialogKind { Incoming, Outgoing, Registration };

// A counted frame of a call awaiting its acknowledgement.
struct Unacked {
    iax2::Bytes datagram;  // R bit already set, ready to go again
    uint8_t oseqno = 0;
    uint32_t stamp = 0;
    Clock::time_point due;
    int intervalMs = 0;
    int retries = 0;
};

// One dialog: a call either way, or one registration exchange.
struct Call {
    DialogKind kind = DialogKind::Incoming;
    sockaddr_in address{};
    uint16_t ownCall = 0, remoteCall = 0;
    uint8_t oseqno = 0, iseqno = 0;
    uint32_t lastStamp = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point answerAt;  // incoming: when we answer; outgoing: when we give up
    std::string challenge;       // set while an MD5 answer is awaited
    uint32_t format = 0;
    bool accepted = false, answered = false;
    unsigned long voiceEchoed = 0;
    // Registration dialogs and calls to a registered user.
    std::string user;
    bool releasing = false, finished = false;
    int refreshAskedSeconds = 0;
    iax2::Bytes lastReply;  // sent again when the request is repeated
    // Voice we send: it begins with a full frame, in the caller's codec.
    uint32_t voiceFormat = 0;
    bool fullVoiceSent = false;
    std::deque<Unacked> unacked;
    // The call is over (HANGUP, REJECT or INVAL): kept until forgetAt to
    // acknowledge a resent HANGUP again and to answer anything newer with INVAL.
    bool ended = false;
    Clock::time_point forgetAt;
};

struct Registration {
    sockaddr_in address{};
    Clock::time_point expires;
    bool ringPending = false;
    Clock::time_point ringAt;
};

class EchoV2 {
public:
    EchoV2(int fd, Options options);
    // Reads one waiting datagram and answers it.
    void Receive();
    // Runs what is due: answers, rings, resends, give-ups, expiries.
    void RunTimers();
    // Milliseconds until RunTimers has work, -1 for none.
    int MsUntilDue() const;

private:
    void HandleFull(const iax2::FullHeader& header, iax2::ByteView data, const sockaddr_in& from);
    void HandleMini(const iax2::MiniHeader& header, iax2::ByteView data, const sockaddr_in& from);
    void HandleOpening(const iax2::FullHeader& header, iax2::ByteView data,
                       const sockaddr_in& from);
    bool Admitted(const iax2::FullHeader& header, const iax2::Ies& ies, size_t requestBytes,
                  const sockaddr_in& from);
    void HandleNew(const iax2::FullHeader& header, const iax2::Ies& ies, const sockaddr_in& from);
    void Acknowledge(Call& call, const iax2::FullHeader& header);
    void AnswerEnded(const Call& call, const iax2::FullHeader& header);
    void EndCall(Call& call);
    bool ResendDue(Call& call, Clock::time_point now);
    void ResendAndForget(Clock::time_point now);
    void HandleInOrder(Call& call, const iax2::FullHeader& header, iax2::ByteView data);
    void HandleCommand(Call& call, const iax2::FullHeader& header, iax2::ByteView data);
    void HandleAuthRep(Call& call, const iax2::Ies& ies);
    void Accept(Call& call);
    Call& StartCall(const iax2::FullHeader& header, const sockaddr_in& from, DialogKind kind);
    Call* Find(const sockaddr_in& from, uint16_t ownCall);
    Call* FindByRemote(const sockaddr_in& from, uint16_t remoteCall);
    uint16_t TakeCallNumber();
    size_t DialogsWith(const sockaddr_in& peer) const;
    void ForgetOldestEnded();
    std::string MakeToken(const sockaddr_in& from, uint64_t window) const;
    bool TokenIsValid(const std::string& token, const sockaddr_in& from) const;
    void SendFull(Call& call, uint8_t type, uint32_t subclass, iax2::ByteView data = {},
                  int64_t echoedStamp = -1);
    void SendUncounted(const sockaddr_in& to, uint16_t source, uint16_t destination,
                       const iax2::FullHeader& answered, uint8_t subclass,
                       iax2::ByteView data = {});
    bool SpendReply(const sockaddr_in& to);
    void Send(const iax2::Bytes& datagram, const sockaddr_in& to);
    uint32_t NextStamp(Call& call);
    void AnswerDue(Clock::time_point now);

    // echo_v2_registrar.cpp: registration.
    void HandleRegistrationOpening(const iax2::FullHeader& header, const iax2::Ies& ies,
                                   const sockaddr_in& from, bool releasing);
    void HandleRegistrationAnswer(Call& dialog, const iax2::Ies& ies);
    void CompleteRegistration(Call& dialog);
    void CompleteRelease(Call& dialog);
    void RefuseRegistration(Call& dialog, const std::string& cause, uint8_t causeCode);
    void SendRegAck(Call& dialog, int grantedSeconds);
    void ExpireRegistrations(Clock::time_point now);

    // echo_v2_ring.cpp: calling registered users.
    void RingDue(Clock::time_point now);
    void Ring(const std::string& user, const Registration& registration);
    // True when the command was one only a call of ours has to handle.
    bool HandleOutgoingCommand(Call& call, const iax2::FullHeader& header, const iax2::Ies& ies);
    void HandleOutgoingControl(Call& call, const iax2::FullHeader& header);
    void GiveUpRinging(Clock::time_point now);

    int m_fd;
    Options m_options;
    std::map<uint16_t, Call> m_calls;                     // every dialog, by our call number
    std::map<std::string, Registration> m_registrations;  // by user name
    uint16_t m_nextCall = 1;
    std::string m_tokenSecret;
    iax2::ReplyBudget m_budget{10};  // replies per second to one unproven address
};

}  // namespace echo2
