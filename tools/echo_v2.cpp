#include "tools/echo_v2.h"

#include "iax/md5.h"
#include "iax2/codes.h"

#include <arpa/inet.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace echo2 {

std::string Describe(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

std::string RandomHex(size_t bytes)
{
    unsigned char raw[32] = {};
    if (bytes > sizeof raw)
        bytes = sizeof raw;
    if (getrandom(raw, bytes, 0) != static_cast<ssize_t>(bytes)) {
        // Without the kernel's source the secret is only as good as the clock.
        auto now = Clock::now().time_since_epoch().count();
        for (size_t i = 0; i < bytes; ++i)
            raw[i] = static_cast<unsigned char>(now >> (8 * (i % 8)));
    }
    std::string text;
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes; ++i) {
        text += kDigits[raw[i] >> 4];
        text += kDigits[raw[i] & 15];
    }
    return text;
}

std::string Md5Hex(const std::string& first, const std::string& second)
{
    char out[33];
    IaxMd5Hex(first.c_str(), second.c_str(), out);
    return out;
}

uint64_t SecondsNow()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count());
}

namespace {

// A token is good in the ten-second window it was made in and the next.
constexpr uint64_t kTokenWindowSeconds = 10;
// Four octets of a keyed digest: short enough that the reply carrying the
// token is no larger than any sensible request.
constexpr size_t kTokenBytes = 4;
constexpr size_t kTokenReplyBytes = iax2::kFullHeaderBytes + 2 + kTokenBytes;
// Past these a flood of admitted requests is refused rather than stored.
// Resending as a client does: no round trip is measured here, so the first
// wait is a second, doubled on each retry up to ten. Eight retries, not a
// client's usual four: a frame that overtakes a lost one is dropped until
// both come again, and the partner of a test should not be first to give up.
constexpr int kFirstResendMs = 1000;
constexpr int kMaxResendMs = 10000;
constexpr int kMaxRetries = 8;
// A caller that acknowledges nothing gets the rest of its frames once.
constexpr size_t kMaxUnacked = 128;
// Longer than a caller resends its HANGUP: 25 s with the usual four
// retries (1 + 2 + 4 + 8 + 10 s), 65 s with eight.
constexpr auto kEndedCallMemory = std::chrono::seconds(70);

// The codec to echo in: the caller's preferred one when we can carry it,
// else the first we share.
uint32_t ChooseFormat(const iax2::Ies& ies)
{
    const uint32_t offered = ies.capability.value_or(0) | ies.format.value_or(0);
    if (ies.format && (*ies.format & kFormatsWeEcho) && !(*ies.format & (*ies.format - 1)))
        return *ies.format;
    for (uint32_t bit : {iax2::kFormatUlaw, iax2::kFormatAlaw, iax2::kFormatGsm})
        if (offered & bit)
            return bit;
    return 0;
}

}  // namespace

EchoV2::EchoV2(int fd, Options options)
    : m_fd(fd), m_options(std::move(options)), m_tokenSecret(RandomHex(16))
{
    if (!m_options.say)
        m_options.say = [](const std::string&) {};
}

void EchoV2::Receive()
{
    uint8_t buffer[65536];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n =
        recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0)
        return;
    ByteView datagram(buffer, static_cast<size_t>(n));
    iax2::FullHeader full;
    iax2::MiniHeader mini;
    ByteView data;
    switch (iax2::Classify(datagram)) {
    case iax2::DatagramKind::Full:
        if (iax2::ParseFull(datagram, &full, &data) == 0)
            HandleFull(full, data, from);
        return;
    case iax2::DatagramKind::Mini:
        if (iax2::ParseMini(datagram, &mini, &data) == 0)
            HandleMini(mini, data, from);
        return;
    default: return;  // meta frames and noise
    }
}

void EchoV2::HandleFull(const iax2::FullHeader& header, ByteView data, const sockaddr_in& from)
{
    const bool command = header.type == iax2::kTypeCommand;
    if (header.destination == 0) {
        if (command && header.subclass == iax2::kPoke && SpendReply(from))
            SendUncounted(from, 1, header.source, header, iax2::kPong);
        else if (command && header.source != 0)
            HandleOpening(header, data, from);
        return;
    }
    Call* call = Find(from, header.destination);
    if (!call || header.source == 0 || (call->remoteCall != 0 && call->remoteCall != header.source))
        return;
    if (call->remoteCall == 0)
        call->remoteCall = header.source;  // the callee's first answer to our NEW
    if (call->ended)
        return AnswerEnded(*call, header);
    Acknowledge(*call, header);
    if (iax2::IsCounterNeutral(header.type, header.subclass)) {
        if (command && header.subclass == iax2::kInval)
            EndCall(*call);  // and a HANGUP still on its way hears INVAL
        return;
    }
    const auto behind = static_cast<int8_t>(header.oseqno - call->iseqno);
    if (behind < 0) {
        // A retransmission of what we took: our answer to it was lost.
        if (call->kind == DialogKind::Registration && !call->lastReply.empty())
            Send(call->lastReply, from);
        else
            SendUncounted(from, call->ownCall, call->remoteCall, header, iax2::kAck);
        return;
    }
    if (behind > 0) {
        SendUncounted(from, call->ownCall, call->remoteCall, header, iax2::kVnak);
        return;
    }
    ++call->iseqno;
    HandleInOrder(*call, header, data);
}

// A request that opens a dialog: only these may come from a stranger.
void EchoV2::HandleOpening(const iax2::FullHeader& header, ByteView data, const sockaddr_in& from)
{
    const uint32_t what = header.subclass;
    if (what != iax2::kNew && what != iax2::kRegReq && what != iax2::kRegRel)
        return;
    if (Call* known = FindByRemote(from, header.source)) {
        // The request again: our answer to it went missing.
        if (!known->lastReply.empty())
            Send(known->lastReply, from);
        else
            SendUncounted(from, known->ownCall, header.source, header, iax2::kAck);
        return;
    }
    iax2::Ies ies;
    if (iax2::ParseIes(data, &ies) != 0 ||
        !Admitted(header, ies, iax2::kFullHeaderBytes + data.size(), from))
        return;
    if (m_calls.size() >= kMaxDialogs)
        ForgetOldestEnded();
    if (m_calls.size() >= kMaxDialogs || DialogsWith(from) >= kMaxDialogsPerAddress)
        return;
    if (what == iax2::kNew)
        HandleNew(header, ies, from);
    else
        HandleRegistrationOpening(header, ies, from, what == iax2::kRegRel);
}

// True when the request carries a valid token for its address. Otherwise a
// request that offered an empty one (or none) gets a fresh token, and a
// stale or forged one is dropped unanswered: nothing is kept for anyone
// until it proves its address by echoing the token.
bool EchoV2::Admitted(const iax2::FullHeader& header, const iax2::Ies& ies, size_t requestBytes,
                      const sockaddr_in& from)
{
    if (ies.callToken && TokenIsValid(*ies.callToken, from))
        return true;
    if (ies.callToken && !ies.callToken->empty())
        return false;
    // Never answer a stranger with more than it sent.
    if (requestBytes < kTokenReplyBytes || !SpendReply(from))
        return false;
    const std::string token = MakeToken(from, SecondsNow() / kTokenWindowSeconds);
    const auto* octets = reinterpret_cast<const uint8_t*>(token.data());
    const Bytes reply =
        iax2::IeWriter().Raw(iax2::kIeCallToken, ByteView(octets, token.size())).bytes();
    SendUncounted(from, 0, header.source, header, iax2::kCallToken, reply);
    return false;
}

// The peer's ISeqno acknowledges everything before it; an ACK names one
// frame by its stamp; a VNAK asks for everything from its ISeqno on.
void EchoV2::Acknowledge(Call& call, const iax2::FullHeader& header)
{
    std::erase_if(call.unacked, [&](const Unacked& frame) {
        return static_cast<int8_t>(header.iseqno - frame.oseqno) > 0;
    });
    if (header.type != iax2::kTypeCommand)
        return;
    if (header.subclass == iax2::kAck)
        std::erase_if(call.unacked,
                      [&](const Unacked& frame) { return frame.stamp == header.timestamp; });
    if (header.subclass != iax2::kVnak)
        return;
    for (const Unacked& frame : call.unacked)
        if (static_cast<int8_t>(frame.oseqno - header.iseqno) >= 0)
            Send(frame.datagram, call.address);
}

void EchoV2::AnswerEnded(const Call& call, const iax2::FullHeader& header)
{
    if (iax2::IsCounterNeutral(header.type, header.subclass))
        return;
    const bool taken = static_cast<int8_t>(header.oseqno - call.iseqno) < 0;
    SendUncounted(call.address, call.ownCall, call.remoteCall, header,
                  taken ? iax2::kAck : iax2::kInval);
}

void EchoV2::EndCall(Call& call)
{
    call.ended = true;
    call.unacked.clear();
    call.forgetAt = Clock::now() + kEndedCallMemory;
}

void EchoV2::HandleInOrder(Call& call, const iax2::FullHeader& header, ByteView data)
{
    const uint16_t own = call.ownCall;
    const bool isCommand = header.type == iax2::kTypeCommand;
    // Everything counted is acknowledged at once, except what a reply of
    // its own answers: a PING's PONG, a LAGRQ's LAGRP, an AUTHREP's ACCEPT.
    // A registration request is answered by REGACK or REGREJ alone.
    const bool answeredByReply =
        call.kind == DialogKind::Registration ||
        (isCommand && (header.subclass == iax2::kPing || header.subclass == iax2::kLagRq));
    if (!answeredByReply)
        SendUncounted(call.address, own, call.remoteCall, header, iax2::kAck);
    if (header.type == iax2::kTypeVoice) {
        // A resent voice frame is stale by now: acknowledged, not echoed,
        // so that it starts no exchange of its own at the end of a call.
        if (!call.answered || header.retransmitted)
            return;
        call.voiceFormat = header.subclass;
        call.fullVoiceSent = true;
        SendFull(call, iax2::kTypeVoice, header.subclass, data);
        ++call.voiceEchoed;
    } else if (header.type == iax2::kTypeDtmf) {
        m_options.say("call " + std::to_string(own) + ": touch tone '" +
                      std::string(1, static_cast<char>(header.subclass)) + "'");
    } else if (isCommand) {
        HandleCommand(call, header, data);
    } else if (header.type == iax2::kTypeControl && call.kind == DialogKind::Outgoing) {
        HandleOutgoingControl(call, header);
    }
}

void EchoV2::HandleCommand(Call& call, const iax2::FullHeader& header, ByteView data)
{
    iax2::Ies ies;
    if (iax2::ParseIes(data, &ies) != 0)
        return;
    if (call.kind == DialogKind::Registration) {
        if (header.subclass == iax2::kRegReq || header.subclass == iax2::kRegRel)
            HandleRegistrationAnswer(call, ies);
        return;
    }
    if (call.kind == DialogKind::Outgoing && HandleOutgoingCommand(call, header, ies))
        return;
    switch (header.subclass) {
    case iax2::kPing: SendFull(call, iax2::kTypeCommand, iax2::kPong, {}, header.timestamp); return;
    case iax2::kLagRq:
        SendFull(call, iax2::kTypeCommand, iax2::kLagRp, {}, header.timestamp);
        return;
    case iax2::kAuthRep: HandleAuthRep(call, ies); return;
    case iax2::kHangup:
    case iax2::kReject:
        m_options.say("call " + std::to_string(call.ownCall) + ": " +
                      (header.subclass == iax2::kHangup ? "HANGUP" : "REJECT") + ", " +
                      std::to_string(call.voiceEchoed) + " voice frames echoed");
        EndCall(call);
        return;
    default: return;
    }
}

void EchoV2::HandleNew(const iax2::FullHeader& header, const iax2::Ies& ies,
                       const sockaddr_in& from)
{
    if (ies.version.value_or(0) != iax2::kProtocolVersion)
        return;
    Call& call = StartCall(header, from, DialogKind::Incoming);
    call.format = ChooseFormat(ies);
    m_options.say("call " + std::to_string(call.ownCall) + ": NEW from " + Describe(from) +
                  " for " + ies.calledNumber.value_or("?"));
    if (call.format == 0) {
        const Bytes reason = iax2::IeWriter().U8(iax2::kIeCauseCode, 58).bytes();
        SendFull(call, iax2::kTypeCommand, iax2::kReject, reason);
        m_calls.erase(call.ownCall);
        return;
    }
    if (m_options.password.empty()) {
        Accept(call);
        return;
    }
    call.challenge = RandomHex(8);
    const Bytes request = iax2::IeWriter()
                              .U16(iax2::kIeAuthMethods, iax2::kAuthMd5)
                              .Text(iax2::kIeChallenge, call.challenge)
                              .Text(iax2::kIeUsername, ies.username.value_or(""))
                              .bytes();
    SendFull(call, iax2::kTypeCommand, iax2::kAuthReq, request);
}

void EchoV2::HandleAuthRep(Call& call, const iax2::Ies& ies)
{
    if (call.challenge.empty() || call.accepted)
        return;
    if (ies.md5Result && *ies.md5Result == Md5Hex(call.challenge, m_options.password)) {
        Accept(call);
        return;
    }
    m_options.say("call " + std::to_string(call.ownCall) + ": wrong password, rejected");
    const Bytes reason = iax2::IeWriter()
                             .Text(iax2::kIeCause, "Authentication failed")
                             .U8(iax2::kIeCauseCode, 21)
                             .bytes();
    SendFull(call, iax2::kTypeCommand, iax2::kReject, reason);
    m_calls.erase(call.ownCall);
}

void EchoV2::Accept(Call& call)
{
    call.accepted = true;
    call.answerAt = Clock::now() + std::chrono::milliseconds(m_options.answerDelayMs);
    SendFull(call, iax2::kTypeCommand, iax2::kAccept,
             iax2::IeWriter().U32(iax2::kIeFormat, call.format).bytes());
    SendFull(call, iax2::kTypeControl, iax2::kCtrlRinging);
    m_options.say("call " + std::to_string(call.ownCall) + ": sent ACCEPT and RINGING");
}

void EchoV2::HandleMini(const iax2::MiniHeader& header, ByteView data, const sockaddr_in& from)
{
    Call* call = FindByRemote(from, header.source);
    if (!call || !call->answered || call->ended)
        return;
    ++call->voiceEchoed;
    if (!call->fullVoiceSent) {
        // The caller's full frame was lost on the way, but our own voice
        // must still begin with one: a mini says nothing of its codec.
        call->fullVoiceSent = true;
        SendFull(*call, iax2::kTypeVoice, call->voiceFormat ? call->voiceFormat : call->format,
                 data);
        return;
    }
    iax2::MiniHeader echo;
    echo.source = call->ownCall;
    echo.timestamp = static_cast<uint16_t>(NextStamp(*call));
    Bytes datagram;
    if (iax2::AppendMini(echo, data, &datagram) == 0)
        Send(datagram, from);
}

void EchoV2::RunTimers()
{
    const auto now = Clock::now();
    ResendAndForget(now);
    AnswerDue(now);
    RingDue(now);
    GiveUpRinging(now);
    ExpireRegistrations(now);
}

void EchoV2::ResendAndForget(Clock::time_point now)
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        Call& call = it->second;
        const bool keep = call.ended ? now < call.forgetAt : ResendDue(call, now);
        it = keep ? std::next(it) : m_calls.erase(it);
    }
}

// False once a frame has run out of retries: the peer is gone, and the
// call is dropped without another word.
bool EchoV2::ResendDue(Call& call, Clock::time_point now)
{
    for (Unacked& frame : call.unacked) {
        if (frame.due > now)
            continue;
        if (frame.retries >= kMaxRetries) {
            m_options.say("call " + std::to_string(call.ownCall) + ": no acknowledgement, dropped");
            return false;
        }
        ++frame.retries;
        frame.intervalMs = std::min(frame.intervalMs * 2, kMaxResendMs);
        frame.due = now + std::chrono::milliseconds(frame.intervalMs);
        Send(frame.datagram, call.address);
    }
    return true;
}

void EchoV2::AnswerDue(Clock::time_point now)
{
    for (auto& [number, call] : m_calls) {
        if (call.kind != DialogKind::Incoming || !call.accepted || call.answered ||
            call.answerAt > now)
            continue;
        call.answered = true;
        SendFull(call, iax2::kTypeControl, iax2::kCtrlAnswer);
        m_options.say("call " + std::to_string(number) + ": sent ANSWER, echoing voice");
    }
}

int EchoV2::MsUntilDue() const
{
    const auto now = Clock::now();
    int wait = -1;
    auto consider = [&](Clock::time_point when) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
        const int ms = left < 0 ? 0 : static_cast<int>(std::min<int64_t>(left, 60000));
        if (wait < 0 || ms < wait)
            wait = ms;
    };
    for (const auto& [number, call] : m_calls) {
        for (const Unacked& frame : call.unacked)
            consider(frame.due);
        if (call.ended)
            consider(call.forgetAt);
        else if (call.kind == DialogKind::Registration)
            consider(call.answerAt);  // when the finished exchange is forgotten
        else if (call.kind == DialogKind::Outgoing ? !call.answered
                                                   : call.accepted && !call.answered)
            consider(call.answerAt);
    }
    for (const auto& [user, registration] : m_registrations) {
        consider(registration.expires);
        if (registration.ringPending)
            consider(registration.ringAt);
    }
    return wait;
}

// Ended calls are kept only to answer their stragglers: they hold no place
// against an address's cap, and give way when every place is taken.
size_t EchoV2::DialogsWith(const sockaddr_in& peer) const
{
    return static_cast<size_t>(std::count_if(m_calls.begin(), m_calls.end(), [&](const auto& e) {
        return !e.second.ended && SameAddress(e.second.address, peer);
    }));
}

void EchoV2::ForgetOldestEnded()
{
    auto oldest = m_calls.end();
    for (auto it = m_calls.begin(); it != m_calls.end(); ++it)
        if (it->second.ended &&
            (oldest == m_calls.end() || it->second.forgetAt < oldest->second.forgetAt))
            oldest = it;
    if (oldest != m_calls.end())
        m_calls.erase(oldest);
}

uint16_t EchoV2::TakeCallNumber()
{
    while (m_calls.count(m_nextCall) != 0 || m_nextCall == 0)
        m_nextCall = (m_nextCall % 0x7FFF) + 1;
    const uint16_t number = m_nextCall;
    m_nextCall = (m_nextCall % 0x7FFF) + 1;
    return number;
}

Call& EchoV2::StartCall(const iax2::FullHeader& header, const sockaddr_in& from, DialogKind kind)
{
    const uint16_t number = TakeCallNumber();
    Call& call = m_calls[number];
    call.kind = kind;
    call.address = from;
    call.ownCall = number;
    call.remoteCall = header.source;
    call.iseqno = 1;  // the request was the caller's frame 0
    call.lastStamp = 0;
    if (kind == DialogKind::Incoming)
        SendUncounted(from, call.ownCall, call.remoteCall, header, iax2::kAck);
    return call;
}

Call* EchoV2::Find(const sockaddr_in& from, uint16_t ownCall)
{
    auto it = m_calls.find(ownCall);
    return it != m_calls.end() && SameAddress(it->second.address, from) ? &it->second : nullptr;
}

Call* EchoV2::FindByRemote(const sockaddr_in& from, uint16_t remoteCall)
{
    for (auto& [number, call] : m_calls)
        if (call.remoteCall == remoteCall && SameAddress(call.address, from))
            return &call;
    return nullptr;
}

// A token binds the caller's address and the time window to our secret,
// so that checking it needs no stored state.
std::string EchoV2::MakeToken(const sockaddr_in& from, uint64_t window) const
{
    const std::string digest = Md5Hex(m_tokenSecret, std::to_string(window) + "@" + Describe(from));
    std::string token;
    for (size_t i = 0; i < kTokenBytes; ++i)
        token += static_cast<char>(std::stoi(digest.substr(2 * i, 2), nullptr, 16));
    return token;
}

bool EchoV2::TokenIsValid(const std::string& token, const sockaddr_in& from) const
{
    const uint64_t window = SecondsNow() / kTokenWindowSeconds;
    return token.size() == kTokenBytes &&
           (token == MakeToken(from, window) || token == MakeToken(from, window - 1));
}

uint32_t EchoV2::NextStamp(Call& call)
{
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - call.start);
    auto stamp = static_cast<uint32_t>(elapsed.count());
    if (stamp <= call.lastStamp)
        stamp = call.lastStamp + 1;
    call.lastStamp = stamp;
    return stamp;
}

void EchoV2::SendFull(Call& call, uint8_t type, uint32_t subclass, ByteView data,
                      int64_t echoedStamp)
{
    iax2::FullHeader header;
    header.source = call.ownCall;
    header.destination = call.remoteCall;
    header.timestamp = echoedStamp >= 0 ? static_cast<uint32_t>(echoedStamp) : NextStamp(call);
    header.oseqno = call.oseqno++;
    header.iseqno = call.iseqno;
    header.type = type;
    header.subclass = subclass;
    Bytes datagram;
    if (iax2::AppendFull(header, data, &datagram) != 0)
        return;
    Send(datagram, call.address);
    if (call.kind == DialogKind::Registration) {
        call.lastReply = datagram;  // a repeated request is what asks for it again
        return;
    }
    if (call.unacked.size() >= kMaxUnacked)
        return;
    iax2::MarkRetransmitted(&datagram);
    call.unacked.push_back({std::move(datagram), header.oseqno, header.timestamp,
                            Clock::now() + std::chrono::milliseconds(kFirstResendMs),
                            kFirstResendMs, 0});
}

void EchoV2::SendUncounted(const sockaddr_in& to, uint16_t source, uint16_t destination,
                           const iax2::FullHeader& answered, uint8_t subclass, ByteView data)
{
    iax2::FullHeader header;
    header.source = source;
    header.destination = destination;
    header.timestamp = answered.timestamp;
    const Call* call = source != 0 ? Find(to, source) : nullptr;
    header.oseqno = call ? call->oseqno : 0;
    header.iseqno = call ? call->iseqno : 0;
    header.type = iax2::kTypeCommand;
    header.subclass = subclass;
    Bytes datagram;
    if (iax2::AppendFull(header, data, &datagram) == 0)
        Send(datagram, to);
}

bool EchoV2::SpendReply(const sockaddr_in& to)
{
    const iax2::Peer peer{ntohl(to.sin_addr.s_addr), ntohs(to.sin_port)};
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return m_budget.Spend(peer, static_cast<uint64_t>(ms.count()));
}

void EchoV2::Send(const Bytes& datagram, const sockaddr_in& to)
{
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

}  // namespace echo2
