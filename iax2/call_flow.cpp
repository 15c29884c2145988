// Layer: endpoint (the top). Call signalling in both directions: NEW with
// its call-token round trip and MD5 challenge, ACCEPT, call progress, the
// ends of a call, incoming calls from the registrar, and what a client
// refuses (transfers, unknown requests).
#include <cctype>
#include <cstring>

#include "iax/md5.h"
#include "iax2/endpoint.h"

namespace iax2 {

namespace {

std::string Md5Answer(const std::string& challenge, const std::string& password)
{
    char hex[33];
    IaxMd5Hex(challenge.c_str(), password.c_str(), hex);
    return std::string(hex, 32);
}

bool IsKnownCommand(uint32_t subclass)
{
    return (subclass >= kNew && subclass <= kTransfer && subclass != 0x1F) ||
           subclass == kCallToken;
}

uint32_t AllFormats(const std::vector<uint32_t>& formats)
{
    uint32_t all = 0;
    for (uint32_t format : formats)
        all |= format;
    return all;
}

bool KnownFormats(const std::vector<uint32_t>& formats)
{
    for (uint32_t format : formats)
        if (format != kFormatUlaw && format != kFormatAlaw && format != kFormatGsm)
            return false;
    return !formats.empty();
}

}  // namespace

int Endpoint::SetFormats(const std::vector<uint32_t>& formats)
{
    if (!KnownFormats(formats))
        return Fail("the codecs accepted must be some of 0x2, 0x4 and 0x8");
    m_options.formats = formats;
    return 0;
}

Bytes Endpoint::NewIes(const CallRequest& request, const std::vector<uint32_t>& formats) const
{
    IeWriter ies;
    ies.Text(kIeCalledNumber, request.number);
    if (!request.callingNumber.empty())
        ies.Text(kIeCallingNumber, request.callingNumber);
    if (!request.callingName.empty())
        ies.Text(kIeCallingName, request.callingName);
    if (!request.user.empty())
        ies.Text(kIeUsername, request.user);
    ies.U8(kIeCallingPres, 0).U8(kIeCallingTon, 0).U16(kIeCallingTns, 0);
    ies.U32(kIeCapability, AllFormats(formats));
    ies.U32(kIeFormat, formats.front());
    if (!request.context.empty())
        ies.Text(kIeCalledContext, request.context);
    return ies.bytes();
}

// The dialog's first request, again from number 0 when a token came back.
// A NEW names its version before anything else.
void Endpoint::SendOpening(Session* session, const std::string& token)
{
    IeWriter head;
    if (session->openingCommand == kNew)
        head.U16(kIeVersion, kProtocolVersion);
    const auto* tokenBytes = reinterpret_cast<const uint8_t*>(token.data());
    head.Raw(kIeCallToken, ByteView(tokenBytes, token.size()));
    Bytes data = head.bytes();
    data.insert(data.end(), session->openingIes.begin(), session->openingIes.end());
    Send(session, kTypeCommand, session->openingCommand, data);
}

int Endpoint::PlaceCall(const CallRequest& request)
{
    Peer peer;
    if (ParseDotted(request.host, &peer.address) != 0)
        return Fail("not a dotted IPv4 address: " + request.host);
    if (request.port <= 0 || request.port > 65535)
        return Fail("not a port: " + std::to_string(request.port));
    if (m_socket.handle() < 0)
        return Fail("the endpoint has no socket");
    const std::vector<uint32_t>& formats =
        request.formats.empty() ? m_options.formats : request.formats;
    if (!KnownFormats(formats))
        return Fail("the codecs offered must be some of 0x2, 0x4 and 0x8");
    peer.port = uint16_t(request.port);
    Session* session = CreateSession(SessionKind::OutgoingCall, peer);
    if (!session)
        return Fail("no free call number");
    session->openingCommand = kNew;
    session->openingIes = NewIes(request, formats);
    session->offeredFormats = AllFormats(formats);
    session->username = request.user;
    session->password = request.password;
    SendOpening(session, "");
    return session->transport.localCall;
}

void Endpoint::HandleCallToken(Session* session, const Ies& ies)
{
    // Two rounds at most: a server that keeps asking is not satisfied by
    // any token of ours, and the request times out as it would anyway.
    if (session->state != SessionState::Opening || !ies.callToken || session->tokenRounds >= 2)
        return;
    ++session->tokenRounds;
    session->transport.RestartCounters();
    SendOpening(session, *ies.callToken);
}

void Endpoint::CloseCall(Session* session, const std::string& cause, uint8_t causeCode)
{
    IeWriter ies;
    ies.Text(kIeCause, cause).U8(kIeCauseCode, causeCode);
    Send(session, kTypeCommand, kHangup, ies.bytes());
    session->state = SessionState::Closing;
}

void Endpoint::FinishClosing(Session* session, uint64_t* outcome)
{
    ++*outcome;
    Destroy(session);
}

void Endpoint::FailCall(Session* session, EventType type, const std::string& cause,
                        uint8_t causeCode)
{
    Event event;
    event.type = type;
    event.call = session->transport.localCall;
    event.text = cause;
    event.causeCode = causeCode;
    Emit(std::move(event));
    CloseCall(session, cause, causeCode);
}

int Endpoint::Hangup(int call, const std::string& cause, uint8_t causeCode)
{
    Session* session = FindCall(call);
    if (!session)
        return Fail("no such call: " + std::to_string(call));
    CloseCall(session, cause, causeCode);
    return 0;
}

int Endpoint::Answer(int call)
{
    Session* session = FindCall(call);
    if (!session || session->kind != SessionKind::IncomingCall ||
        session->state != SessionState::Linked)
        return Fail("no ringing incoming call: " + std::to_string(call));
    if (!Send(session, kTypeControl, kCtrlAnswer))
        return -1;
    session->state = SessionState::Up;
    return 0;
}

void Endpoint::HandleAuthRequest(Session* session, const Ies& ies)
{
    if (session->state != SessionState::Opening || session->challenged)
        return FailCall(session, EventType::Rejected, "Authentication failed", kCauseCallRejected);
    if (ies.encryption.value_or(0) != 0)
        return FailCall(session, EventType::Rejected, "Encryption is not supported",
                        kCauseCallRejected);
    if (!(ies.authMethods.value_or(0) & kAuthMd5) || !ies.challenge)
        return FailCall(session, EventType::Rejected, "No supported authentication method",
                        kCauseCallRejected);
    session->challenged = true;
    IeWriter reply;
    reply.Text(kIeMd5Result, Md5Answer(*ies.challenge, session->password));
    Send(session, kTypeCommand, kAuthRep, reply.bytes());
}

void Endpoint::HandleAccept(Session* session, const Ies& ies)
{
    if (session->kind != SessionKind::OutgoingCall || session->state != SessionState::Opening)
        return;  // a second ACCEPT changes nothing
    const uint32_t format = ies.format.value_or(0);
    if (format == 0 || (format & (format - 1)) || !(format & session->offeredFormats))
        return FailCall(session, EventType::Rejected, "No common codec", kCauseBearerNotAvailable);
    session->format = format;
    session->state = SessionState::Linked;
    session->nextPingMs = Now() + m_options.pingIntervalMs;
    EmitCall(EventType::Accepted, *session);
}

void Endpoint::EndByFarEnd(Session* session, EventType type, const Ies* ies)
{
    EmitCall(type, *session, ies);
    Destroy(session);
}

void Endpoint::SendUnsupported(Session* session, uint8_t subclass)
{
    IeWriter ies;
    ies.U8(kIeUnknown, subclass);
    Send(session, kTypeCommand, kUnsupport, ies.bytes());
}

void Endpoint::HandleCommand(Session* session, const FullHeader& header, const Ies& ies)
{
    Bytes echo;
    switch (header.subclass) {
    case kAccept: SendAck(session, header); return HandleAccept(session, ies);
    case kAuthReq: return HandleAuthRequest(session, ies);
    case kReject: SendAck(session, header); return EndByFarEnd(session, EventType::Rejected, &ies);
    case kHangup: SendAck(session, header); return EndByFarEnd(session, EventType::Hangup, &ies);
    case kPing:
    case kLagRq:
        if (session->transport.BuildEcho(kTypeCommand, header.subclass == kPing ? kPong : kLagRp,
                                         header.timestamp, {}, Now(), &echo))
            SendRaw(echo, session->transport.peer);
        return;
    case kPong:
        SendAck(session, header);
        session->transport.MeasuredRoundTrip(session->transport.ClockMs(Now()) - header.timestamp);
        return;
    case kQuelch:
    case kUnquelch:
        SendAck(session, header);
        session->quelched = header.subclass == kQuelch;
        session->sentVoiceFormat = 0;  // voice resumes with a full frame
        return EmitCall(session->quelched ? EventType::Held : EventType::Resumed, *session);
    case kTxReq: Send(session, kTypeCommand, kTxRej); return;
    default:
        if (IsKnownCommand(header.subclass))
            return SendAck(session, header);
        return SendUnsupported(session, uint8_t(EncodeSubclass(header.subclass)));
    }
}

void Endpoint::HandleControl(Session* session, const FullHeader& header)
{
    const bool outgoing = session->kind == SessionKind::OutgoingCall;
    switch (header.subclass) {
    case kCtrlRinging:
    case kCtrlProceeding:
        SendAck(session, header);
        if (outgoing && session->state == SessionState::Linked)
            EmitCall(header.subclass == kCtrlRinging ? EventType::Ringing : EventType::Proceeding,
                     *session);
        return;
    case kCtrlAnswer:
        SendAck(session, header);
        if (outgoing && session->state == SessionState::Linked) {
            session->state = SessionState::Up;
            EmitCall(EventType::Answered, *session);
        }
        return;
    case kCtrlBusy:
    case kCtrlCongestion: {
        SendAck(session, header);
        const bool busy = header.subclass == kCtrlBusy;
        return FailCall(session, busy ? EventType::Busy : EventType::Congestion,
                        busy ? "User busy" : "Switch congestion",
                        busy ? kCauseUserBusy : kCauseSwitchCongestion);
    }
    case kCtrlHold:
    case kCtrlUnhold:
        SendAck(session, header);
        session->quelched = header.subclass == kCtrlHold;
        session->sentVoiceFormat = 0;
        return EmitCall(session->quelched ? EventType::Held : EventType::Resumed, *session);
    case kCtrlHangup:
    case kCtrlFlashHook:
    case kCtrlOption:
    case kCtrlKey:
    case kCtrlUnkey:
    case kCtrlProgress: SendAck(session, header); return;
    default: return SendUnsupported(session, uint8_t(EncodeSubclass(header.subclass)));
    }
}

// ---- Incoming calls ----------------------------------------------------------

bool Endpoint::AllowedCaller(Peer from) const
{
    return m_registrationWanted && from == m_registrar;
}

int Endpoint::CountUnanswered() const
{
    int count = 0;
    for (const auto& [number, session] : m_sessions)
        count +=
            session->kind == SessionKind::IncomingCall && session->state == SessionState::Linked;
    return count;
}

uint32_t Endpoint::ChooseFormat(const Ies& ies) const
{
    const uint32_t offered = ies.capability.value_or(0) | ies.format.value_or(0);
    for (uint32_t format : m_options.formats)
        if (offered & format)
            return format;
    return 0;
}

void Endpoint::HandleNew(const FullHeader& header, ByteView data, Peer from)
{
    if (Session* known = FindByRemote(from, header.source)) {
        if (known->kind == SessionKind::IncomingCall)
            SendAck(known, header);  // our ACK or ACCEPT was lost: it resends
        return;
    }
    Ies ies;
    if (!AllowedCaller(from) || header.source == 0 || ParseIes(data, &ies) != 0)
        return;
    const uint32_t format = ChooseFormat(ies);
    if (ies.version.value_or(0) != kProtocolVersion || format == 0 ||
        CountUnanswered() >= m_options.maxUnansweredIncoming)
        return Reply(from, header, kReject, NewCallNumber(), data.size() + kFullHeaderBytes);
    Session* session = CreateSession(SessionKind::IncomingCall, from);
    if (!session)
        return;
    session->transport.remoteCall = header.source;
    session->transport.Receive(header);
    session->format = format;
    session->offeredFormats = ies.capability.value_or(format);
    SendAck(session, header);
    IeWriter accept;
    accept.U32(kIeFormat, format);
    Send(session, kTypeCommand, kAccept, accept.bytes());
    Send(session, kTypeControl, kCtrlRinging);
    session->state = SessionState::Linked;
    session->nextPingMs = Now() + m_options.pingIntervalMs;
    Event event;
    event.type = EventType::IncomingCall;
    event.call = session->transport.localCall;
    event.format = format;
    event.formats = session->offeredFormats;
    event.number = ies.callingNumber.value_or("");
    event.name = ies.callingName.value_or("");
    Emit(std::move(event));
}

}  // namespace iax2
