// Layer: endpoint, the top of the library (above session, transport,
// jitter, guard, ies, wire, socket, clock). This file routes datagrams to
// dialogs, decides what strangers may get, and runs the timers; the call,
// voice and registration flows live beside it.
#include "iax2/endpoint.h"

#include <poll.h>
#include <sys/random.h>

#include <algorithm>

namespace iax2 {

namespace {

constexpr size_t kMaxQueuedEvents = 1024;
constexpr size_t kReceiveBufferBytes = 65536;
constexpr int kDatagramsPerService = 256;

uint32_t RandomSeed()
{
    uint32_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != sizeof seed)
        seed = uint32_t(MonotonicMs());
    return seed;
}

// Replies that must never be answered with INVAL: each would loop.
bool NeverInvalid(const FullHeader& header)
{
    if (header.type != kTypeCommand)
        return false;
    const uint32_t s = header.subclass;
    return s == kAck || s == kInval || s == kVnak || s == kCallToken || s == kPong;
}

bool IsCommand(const FullHeader& header, uint32_t subclass)
{
    return header.type == kTypeCommand && header.subclass == subclass;
}

}  // namespace

Endpoint::Endpoint(EndpointOptions options)
    : m_options(std::move(options)),
      m_budget(m_options.repliesPerSecond),
      m_ended(m_options.endedCallMemoryMs),
      m_random(RandomSeed()),
      m_receiveBuffer(kReceiveBufferBytes)
{
    if (SetFormats(m_options.formats) != 0)
        m_options.formats = {kFormatUlaw, kFormatAlaw, kFormatGsm};
}

Endpoint::~Endpoint() = default;

int Endpoint::Fail(const std::string& message)
{
    m_error = message;
    return -1;
}

int Endpoint::Open(int port)
{
    return m_socket.Open(port, &m_error);
}

uint16_t Endpoint::NewCallNumber()
{
    for (int attempt = 0; attempt < 256; ++attempt) {
        uint16_t number = 0;
        if (m_options.callNumbers)
            number = m_options.callNumbers();
        else if (getrandom(&number, sizeof number, 0) != sizeof number)
            number = uint16_t(m_random());
        number &= 0x7FFF;
        if (number != 0 && !m_sessions.count(number) && !m_ended.Holds(number))
            return number;
    }
    return 0;
}

Session* Endpoint::CreateSession(SessionKind kind, Peer peer)
{
    const uint16_t number = NewCallNumber();
    if (number == 0)
        return nullptr;
    auto session = std::make_unique<Session>(Now(), m_options.transport, m_options.jitterDelayMs);
    session->kind = kind;
    session->transport.localCall = number;
    session->transport.peer = peer;
    Session* raw = session.get();
    m_sessions[number] = std::move(session);
    return raw;
}

Session* Endpoint::FindCall(int call)
{
    const auto found = m_sessions.find(uint16_t(call));
    if (call <= 0 || call > 0x7FFF || found == m_sessions.end())
        return nullptr;
    Session* session = found->second.get();
    const bool isCall = session->kind != SessionKind::Registration;
    return isCall && session->state != SessionState::Closing ? session : nullptr;
}

Session* Endpoint::FindByRemote(Peer peer, uint16_t remoteCall)
{
    for (auto& [number, session] : m_sessions)
        if (session->transport.remoteCall == remoteCall && session->transport.peer == peer)
            return session.get();
    return nullptr;
}

Session* Endpoint::OpeningSessionFor(Peer from, uint16_t destination)
{
    if (destination != 0) {
        const auto found = m_sessions.find(destination);
        return found == m_sessions.end() ? nullptr : found->second.get();
    }
    for (auto& [number, session] : m_sessions)
        if (session->state == SessionState::Opening && session->transport.peer == from &&
            session->transport.remoteCall == 0)
            return session.get();
    return nullptr;
}

void Endpoint::Destroy(Session* session)
{
    const Transport& t = session->transport;
    m_ended.Remember(t.localCall, t.peer, t.remoteCall, Now());
    if (t.localCall == m_registrationCall)
        m_registrationCall = 0;
    m_sessions.erase(t.localCall);
}

void Endpoint::Emit(Event event)
{
    // A user that stops reading loses voice, never call progress.
    if (m_events.size() >= kMaxQueuedEvents && event.type == EventType::Voice)
        return;
    m_events.push_back(std::move(event));
}

void Endpoint::EmitCall(EventType type, const Session& session, const Ies* ies)
{
    Event event;
    event.type = type;
    event.call = session.transport.localCall;
    event.format = session.format;
    if (ies && ies->cause)
        event.text = *ies->cause;
    if (ies && ies->causeCode)
        event.causeCode = *ies->causeCode;
    Emit(std::move(event));
}

bool Endpoint::NextEvent(Event* event)
{
    if (m_events.empty())
        return false;
    *event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

void Endpoint::SendRaw(const Bytes& bytes, Peer to)
{
    if (m_socket.handle() >= 0)
        m_socket.Send(bytes.data(), bytes.size(), to);
}

void Endpoint::SendFrames(const std::vector<Bytes>& frames, Peer to)
{
    for (const Bytes& frame : frames)
        SendRaw(frame, to);
}

bool Endpoint::Send(Session* session, uint8_t type, uint32_t subclass, ByteView data)
{
    Bytes frame;
    if (!session->transport.Build(type, subclass, data, Now(), &frame))
        return Fail("the far end acknowledges nothing: too many frames wait to be resent") == 0;
    SendRaw(frame, session->transport.peer);
    return true;
}

void Endpoint::ResendFrom(Session* session, uint8_t iseqno)
{
    std::vector<Bytes> frames;
    session->transport.ResendFrom(iseqno, &frames);
    SendFrames(frames, session->transport.peer);
}

void Endpoint::SendAck(Session* session, const FullHeader& header)
{
    Bytes frame;
    if (session->transport.BuildEcho(kTypeCommand, kAck, header.timestamp, {}, Now(), &frame))
        SendRaw(frame, session->transport.peer);
}

// A reply that belongs to no dialog: never larger than what provoked it,
// and within the address's budget.
void Endpoint::Reply(Peer to, const FullHeader& header, uint8_t subclass, uint16_t source,
                     size_t limit)
{
    if (source == 0 || !m_budget.Spend(to, Now()))
        return;
    const FullHeader reply{source,           header.source, false,
                           header.timestamp, header.iseqno, uint8_t(header.oseqno + 1),
                           kTypeCommand,     subclass};
    Bytes frame;
    if (AppendFull(reply, {}, &frame) == 0 && frame.size() <= limit)
        SendRaw(frame, to);
}

void Endpoint::HandleDatagram(ByteView datagram, Peer from)
{
    switch (Classify(datagram)) {
    case DatagramKind::Full: HandleFull(datagram, from); break;
    case DatagramKind::Mini: HandleMini(datagram, from); break;
    default: break;  // video and trunk are not ours to play; noise is noise
    }
}

void Endpoint::HandleFull(ByteView datagram, Peer from)
{
    FullHeader header;
    ByteView data;
    if (ParseFull(datagram, &header, &data) != 0 || header.type == kTypeNull)
        return;
    if (IsCommand(header, kCallToken)) {
        Session* session = OpeningSessionFor(from, header.destination);
        Ies ies;
        if (session && session->transport.peer == from && ParseIes(data, &ies) == 0)
            HandleCallToken(session, ies);
        return;
    }
    if (header.destination == 0) {
        if (IsCommand(header, kNew))
            HandleNew(header, data, from);
        else if (IsCommand(header, kPoke))
            Reply(from, header, kPong, NewCallNumber(), datagram.size());
        return;  // a client is no registrar or dial-plan server
    }
    const auto found = m_sessions.find(header.destination);
    if (found == m_sessions.end())
        return HandleStranger(header, data, from);
    Transport& t = found->second->transport;
    if (!(t.peer == from) || header.source == 0 || (t.remoteCall && t.remoteCall != header.source))
        return;  // only the call's own address and call number may speak on it
    if (t.remoteCall == 0)
        t.remoteCall = header.source;
    HandleOnSession(found->second.get(), header, data);
}

void Endpoint::HandleStranger(const FullHeader& header, ByteView, Peer from)
{
    const EndedCall* ended = m_ended.Find(header.destination, Now());
    if (!ended || !(ended->peer == from) || NeverInvalid(header))
        return;
    if (ended->remoteCall != 0 && ended->remoteCall != header.source)
        return;
    Reply(from, header, kInval, header.destination, kFullHeaderBytes);
}

void Endpoint::HandleOnSession(Session* session, const FullHeader& header, ByteView data)
{
    Ies ies;
    if (header.type == kTypeCommand && ParseIes(data, &ies) != 0)
        return;  // malformed: as if it never arrived, so the counters stay true
    const Verdict verdict = session->transport.Receive(header);
    if (session->state == SessionState::Closing) {
        // A frame resent from before our HANGUP (its ACK was lost) is
        // acknowledged again: an INVAL would end the call at the far end
        // before our HANGUP got there, and that could never be acknowledged.
        if (IsCommand(header, kHangup) || verdict == Verdict::Duplicate)
            SendAck(session, header);
        else if (IsCommand(header, kVnak))
            ResendFrom(session, header.iseqno);  // our HANGUP or a frame before it went missing
        else if (!NeverInvalid(header))
            Reply(session->transport.peer, header, kInval, session->transport.localCall, 65536);
        if (session->transport.AllAcknowledged())
            FinishClosing(session, &m_hangups.acknowledged);
        else if (IsCommand(header, kInval))
            FinishClosing(session, &m_hangups.invalidated);
        return;
    }
    switch (verdict) {
    case Verdict::Duplicate: SendAck(session, header); return;
    case Verdict::Gap: {
        Bytes vnak;
        Transport& t = session->transport;
        if (t.BuildEcho(kTypeCommand, kVnak, t.NextFullStamp(Now()), {}, Now(), &vnak))
            SendRaw(vnak, t.peer);
        return;
    }
    case Verdict::Neutral:
        if (IsCommand(header, kVnak)) {
            ResendFrom(session, header.iseqno);
        } else if (IsCommand(header, kInval)) {
            if (session->kind == SessionKind::Registration)
                RegistrationEnded(session, "Not registered", true);
            else
                EndByFarEnd(session, EventType::Hangup, nullptr);
        }
        return;
    case Verdict::InOrder: break;
    }
    if (session->kind == SessionKind::Registration) {
        if (header.type == kTypeCommand)
            return HandleRegistration(session, header, ies);
        return SendAck(session, header);  // nothing else belongs to a registration
    }
    Dispatch(session, header, data);
}

void Endpoint::Dispatch(Session* session, const FullHeader& header, ByteView data)
{
    switch (header.type) {
    case kTypeCommand: {
        Ies ies;
        ParseIes(data, &ies);  // checked before the counters moved
        return HandleCommand(session, header, ies);
    }
    case kTypeControl: return HandleControl(session, header);
    case kTypeVoice: return HandleVoice(session, header, data);
    case kTypeDtmf: {
        SendAck(session, header);
        Event event;
        event.type = EventType::Dtmf;
        event.call = session->transport.localCall;
        event.digit = char(header.subclass);
        return Emit(std::move(event));
    }
    case kTypeHtml:
        SendAck(session, header);
        Send(session, kTypeHtml, kHtmlNotSupported);
        return;
    default: SendAck(session, header); return;  // text, image, video, noise, unknown: ignored
    }
}

void Endpoint::Service()
{
    for (int i = 0; i < kDatagramsPerService && m_socket.handle() >= 0; ++i) {
        Peer from;
        const int length = m_socket.Receive(m_receiveBuffer.data(), m_receiveBuffer.size(), &from);
        if (length < 0)
            break;
        HandleDatagram(ByteView(m_receiveBuffer.data(), size_t(length)), from);
    }
    ServiceTimers();
}

void Endpoint::ServiceTimers()
{
    const uint64_t now = Now();
    std::vector<uint16_t> numbers;
    for (const auto& [number, session] : m_sessions)
        numbers.push_back(number);
    for (uint16_t number : numbers)
        if (const auto found = m_sessions.find(number); found != m_sessions.end())
            ServiceSession(found->second.get(), now);
    ServiceRegistration(now);
}

void Endpoint::ServiceSession(Session* session, uint64_t now)
{
    std::vector<Bytes> frames;
    const bool alive = session->transport.Service(now, &frames);
    SendFrames(frames, session->transport.peer);
    if (!alive ||
        (session->state == SessionState::Closing && session->transport.AllAcknowledged())) {
        if (session->kind == SessionKind::Registration)
            return RegistrationEnded(session, "Not registered", !session->releasing);
        if (session->state == SessionState::Closing)
            return FinishClosing(session, alive ? &m_hangups.acknowledged : &m_hangups.unanswered);
        EmitCall(EventType::Timeout, *session);
        return Destroy(session);
    }
    if (session->state == SessionState::Closing)
        return;  // the user has hung up: nothing more to hand out or keep alive
    DrainJitter(session, now);
    const bool inCall =
        session->state == SessionState::Linked || session->state == SessionState::Up;
    if (inCall && now >= session->nextPingMs) {
        session->nextPingMs = now + m_options.pingIntervalMs;
        Send(session, kTypeCommand, kPing);
    }
}

int Endpoint::NextDueMs() const
{
    const uint64_t now = Now();
    uint64_t due = m_nextRegistrationMs;
    for (const auto& [number, session] : m_sessions) {
        due = std::min({due, session->transport.NextDueMs(), session->jitter.NextDueMs()});
        if (session->state == SessionState::Linked || session->state == SessionState::Up)
            due = std::min(due, session->nextPingMs);
        if (session->state == SessionState::Closing && session->transport.AllAcknowledged())
            due = now;
    }
    if (due == UINT64_MAX)
        return -1;
    return due <= now ? 0 : int(std::min<uint64_t>(due - now, 1u << 30));
}

void Endpoint::ReleaseAll(int deadlineMs)
{
    std::vector<int> calls;
    for (const auto& [number, session] : m_sessions)
        if (session->kind != SessionKind::Registration && session->state != SessionState::Closing)
            calls.push_back(number);
    for (int call : calls)
        Hangup(call);
    Unregister();
    const uint64_t deadline = MonotonicMs() + uint64_t(std::max(deadlineMs, 0));
    while (!m_sessions.empty() && m_socket.handle() >= 0) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            break;
        const int due = NextDueMs();
        const int left = int(deadline - now);
        pollfd readable{m_socket.handle(), POLLIN, 0};
        poll(&readable, 1, due < 0 ? left : std::min(due, left));
        Service();
    }
}

}  // namespace iax2
