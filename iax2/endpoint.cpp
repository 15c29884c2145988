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
    : options_(std::move(options)),
      budget_(options_.repliesPerSecond),
      ended_(options_.endedCallMemoryMs),
      random_(RandomSeed()),
      receiveBuffer_(kReceiveBufferBytes)
{
    if (SetFormats(options_.formats) != 0)
        options_.formats = {kFormatUlaw, kFormatAlaw, kFormatGsm};
}

Endpoint::~Endpoint() = default;

int Endpoint::Fail(const std::string& message)
{
    error_ = message;
    return -1;
}

int Endpoint::Open(int port)
{
    return socket_.Open(port, &error_);
}

uint16_t Endpoint::NewCallNumber()
{
    for (int attempt = 0; attempt < 256; ++attempt) {
        uint16_t number = 0;
        if (options_.callNumbers)
            number = options_.callNumbers();
        else if (getrandom(&number, sizeof number, 0) != sizeof number)
            number = uint16_t(random_());
        number &= 0x7FFF;
        if (number != 0 && !sessions_.count(number) && !ended_.Holds(number))
            return number;
    }
    return 0;
}

Session* Endpoint::CreateSession(SessionKind kind, Peer peer)
{
    const uint16_t number = NewCallNumber();
    if (number == 0)
        return nullptr;
    auto session = std::make_unique<Session>(Now(), options_.transport, options_.jitterDelayMs);
    session->kind = kind;
    session->transport.localCall = number;
    session->transport.peer = peer;
    Session* raw = session.get();
    sessions_[number] = std::move(session);
    return raw;
}

Session* Endpoint::FindCall(int call)
{
    const auto found = sessions_.find(uint16_t(call));
    if (call <= 0 || call > 0x7FFF || found == sessions_.end())
        return nullptr;
    Session* session = found->second.get();
    const bool isCall = session->kind != SessionKind::Registration;
    return isCall && session->state != SessionState::Closing ? session : nullptr;
}

Session* Endpoint::FindByRemote(Peer peer, uint16_t remoteCall)
{
    for (auto& [number, session] : sessions_)
        if (session->transport.remoteCall == remoteCall && session->transport.peer == peer)
            return session.get();
    return nullptr;
}

Session* Endpoint::OpeningSessionFor(Peer from, uint16_t destination)
{
    if (destination != 0) {
        const auto found = sessions_.find(destination);
        return found == sessions_.end() ? nullptr : found->second.get();
    }
    for (auto& [number, session] : sessions_)
        if (session->state == SessionState::Opening && session->transport.peer == from &&
            session->transport.remoteCall == 0)
            return session.get();
    return nullptr;
}

void Endpoint::Destroy(Session* session)
{
    const Transport& t = session->transport;
    ended_.Remember(t.localCall, t.peer, t.remoteCall, Now());
    if (t.localCall == registrationCall_)
        registrationCall_ = 0;
    sessions_.erase(t.localCall);
}

void Endpoint::Emit(Event event)
{
    // A user that stops reading loses voice, never call progress.
    if (events_.size() >= kMaxQueuedEvents && event.type == EventType::Voice)
        return;
    events_.push_back(std::move(event));
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
    if (events_.empty())
        return false;
    *event = std::move(events_.front());
    events_.pop_front();
    return true;
}

void Endpoint::SendRaw(const Bytes& bytes, Peer to)
{
    if (socket_.handle() >= 0)
        socket_.Send(bytes.data(), bytes.size(), to);
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
    if (source == 0 || !budget_.Spend(to, Now()))
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
    const auto found = sessions_.find(header.destination);
    if (found == sessions_.end())
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
    const EndedCall* ended = ended_.Find(header.destination, Now());
    if (!ended || !(ended->peer == from) || NeverInvalid(header))
        return;
    if (ended->remoteCall != 0 && ended->remoteCall != header.source)
        return;
    Reply(from, header, kInval, header.destination, kFullHeaderBytes + 0);
}

void Endpoint::HandleOnSession(Session* session, const FullHeader& header, ByteView data)
{
    Ies ies;
    if (header.type == kTypeCommand && ParseIes(data, &ies) != 0)
        return;  // malformed: as if it never arrived, so the counters stay true
    const Verdict verdict = session->transport.Receive(header);
    if (session->state == SessionState::Closing) {
        if (IsCommand(header, kHangup))
            SendAck(session, header);
        else if (!NeverInvalid(header))
            Reply(session->transport.peer, header, kInval, session->transport.localCall, 65536);
        if (session->transport.AllAcknowledged() || IsCommand(header, kInval))
            Destroy(session);
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
            std::vector<Bytes> frames;
            session->transport.ResendFrom(header.iseqno, &frames);
            SendFrames(frames, session->transport.peer);
        } else if (IsCommand(header, kInval)) {
            if (session->kind == SessionKind::Registration)
                RegistrationEnded(session, "Not registered", true);
            else
                EndByFarEnd(session, EventType::Hangup, nullptr);
        }
        return;
    case Verdict::InOrder: break;
    }
    if (session->kind == SessionKind::Registration && header.type == kTypeCommand)
        return HandleRegistration(session, header, ies);
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
    for (int i = 0; i < kDatagramsPerService && socket_.handle() >= 0; ++i) {
        Peer from;
        const int length = socket_.Receive(receiveBuffer_.data(), receiveBuffer_.size(), &from);
        if (length < 0)
            break;
        HandleDatagram(ByteView(receiveBuffer_.data(), size_t(length)), from);
    }
    ServiceTimers();
}

void Endpoint::ServiceTimers()
{
    const uint64_t now = Now();
    std::vector<uint16_t> numbers;
    for (const auto& [number, session] : sessions_)
        numbers.push_back(number);
    for (uint16_t number : numbers)
        if (const auto found = sessions_.find(number); found != sessions_.end())
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
        if (session->state != SessionState::Closing)
            EmitCall(EventType::Timeout, *session);
        return Destroy(session);
    }
    DrainJitter(session, now);
    const bool inCall =
        session->state == SessionState::Linked || session->state == SessionState::Up;
    if (inCall && now >= session->nextPingMs) {
        session->nextPingMs = now + options_.pingIntervalMs;
        Send(session, kTypeCommand, kPing);
    }
}

int Endpoint::NextDueMs() const
{
    const uint64_t now = Now();
    uint64_t due = nextRegistrationMs_;
    for (const auto& [number, session] : sessions_) {
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
    for (const auto& [number, session] : sessions_)
        if (session->kind != SessionKind::Registration && session->state != SessionState::Closing)
            calls.push_back(number);
    for (int call : calls)
        Hangup(call);
    Unregister();
    const uint64_t deadline = MonotonicMs() + uint64_t(std::max(deadlineMs, 0));
    while (!sessions_.empty() && socket_.handle() >= 0) {
        const uint64_t now = MonotonicMs();
        if (now >= deadline)
            break;
        const int due = NextDueMs();
        const int left = int(deadline - now);
        pollfd readable{socket_.handle(), POLLIN, 0};
        poll(&readable, 1, due < 0 ? left : std::min(due, left));
        Service();
    }
}

}  // namespace iax2
