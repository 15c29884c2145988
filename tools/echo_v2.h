// The echo service's version-2 side: answers every call on its own socket,
// demands a call token before it keeps any state, challenges with MD5 when
// it has a password, and sends each voice frame straight back (full as
// full, mini as mini). It resends what goes unacknowledged and keeps an
// ended call a while, so that it stays a fair partner on a lossy path.
#pragma once

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

struct Options {
    int answerDelayMs = 300;
    std::string password;  // empty: calls are taken without a challenge
    std::function<void(const std::string&)> say;
};

// A counted frame of ours awaiting its acknowledgement.
struct Unacked {
    iax2::Bytes datagram;  // R bit already set, ready to go again
    uint8_t oseqno = 0;
    uint32_t stamp = 0;
    Clock::time_point due;
    int intervalMs = 0;
    int retries = 0;
};

struct Call {
    sockaddr_in address{};
    uint16_t ownCall = 0, remoteCall = 0;
    uint8_t oseqno = 0, iseqno = 0;
    uint32_t lastStamp = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point answerAt;
    std::string challenge;  // set while an MD5 answer is awaited
    uint32_t format = 0;
    bool accepted = false, answered = false;
    unsigned long voiceEchoed = 0;
    uint32_t voiceFormat = 0;    // of the caller's last full voice frame
    bool fullVoiceSent = false;  // our voice has begun with a full frame
    std::deque<Unacked> unacked;
    // The caller hung up: kept until forgetAt to acknowledge a resent HANGUP
    // again and to answer anything newer with INVAL.
    bool ended = false;
    Clock::time_point forgetAt;
};

class EchoV2 {
public:
    EchoV2(int fd, Options options);
    // Reads one waiting datagram and answers it.
    void Receive();
    // Answers calls whose delay has passed, resends what went
    // unacknowledged and forgets calls ended long enough ago.
    void ServiceDue();
    // Milliseconds until ServiceDue has work, -1 for none.
    int MsUntilDue() const;

private:
    void HandleFull(const iax2::FullHeader& header, iax2::ByteView data, const sockaddr_in& from);
    void HandleMini(const iax2::MiniHeader& header, iax2::ByteView data, const sockaddr_in& from);
    void HandleNew(const iax2::FullHeader& header, iax2::ByteView data, const sockaddr_in& from);
    void Acknowledge(Call& call, const iax2::FullHeader& header);
    void AnswerEnded(const Call& call, const iax2::FullHeader& header);
    void EndCall(Call& call);
    bool ResendDue(Call& call, Clock::time_point now);
    void HandleInOrder(Call& call, const iax2::FullHeader& header, iax2::ByteView data);
    void HandleCommand(Call& call, const iax2::FullHeader& header, iax2::ByteView data);
    void HandleAuthRep(Call& call, const iax2::Ies& ies);
    void Accept(Call& call);
    Call& StartCall(const iax2::FullHeader& header, const sockaddr_in& from);
    Call* Find(const sockaddr_in& from, uint16_t ownCall);
    Call* FindByRemote(const sockaddr_in& from, uint16_t remoteCall);
    std::string MakeToken(const sockaddr_in& from, uint64_t seconds) const;
    bool TokenIsValid(const std::string& token, const sockaddr_in& from) const;
    void SendFull(Call& call, uint8_t type, uint32_t subclass, iax2::ByteView data = {},
                  int64_t echoedStamp = -1);
    void SendUncounted(const sockaddr_in& to, uint16_t source, uint16_t destination,
                       const iax2::FullHeader& answered, uint8_t subclass,
                       iax2::ByteView data = {});
    void Send(const iax2::Bytes& datagram, const sockaddr_in& to);
    uint32_t NextStamp(Call& call);

    int m_fd;
    Options m_options;
    std::map<uint16_t, Call> m_calls;  // by our call number
    uint16_t m_nextCall = 1;
    std::string m_tokenSecret;
};

}  // namespace echo2
