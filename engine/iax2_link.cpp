// Calls over version 2: one endpoint of the version-2 library, which owns
// its socket, calls and registration. The link keeps a record per call the
// engine knows, so that a handle stays the same from the moment the engine
// asks for a call until it is over, whatever the endpoint numbers it.
#include "engine/call_link.h"
#include "engine/steady_ms.h"

#include "iax/dial_string.h"
#include "iax2/endpoint.h"
#include "settings/protocol_settings.h"

#include <algorithm>
#include <cstdio>

namespace velnar {

namespace {

constexpr int kGsmBytes = 33;
constexpr int kG711BytesPerBlock = 160;

struct V2Call {
    int id = 0;  // the endpoint's handle; 0 until the call is placed
    bool incoming = false;
    bool answered = false;
};

// The dial string read by version 1's own parser; a host without a port is
// version 2's server port. False when it names no host.
bool TargetOfDialString(const std::string& dialString, CallTarget& target)
{
    std::vector<char> copy(dialString.begin(), dialString.end());
    copy.push_back('\0');
    IaxDialFields fields{};
    if (IaxParseDialString(copy.data(), &fields) != 0 || !fields.host)
        return false;
    auto text = [](const char* field) { return field ? std::string(field) : std::string(); };
    target.user = text(fields.username);
    target.password = text(fields.secret);
    target.host = text(fields.host);
    target.number = text(fields.exten);
    target.context = text(fields.context);
    // The parser cuts its copy in place: a port followed the host when the
    // dial string has a colon right after it.
    const size_t hostEnd = static_cast<size_t>(fields.host - copy.data()) + target.host.size();
    const bool portGiven = hostEnd < dialString.size() && dialString[hostEnd] == ':';
    target.port = portGiven ? fields.port : kVersion2ServerPort;
    return true;
}

std::string CallerOf(const iax2::Event& event)
{
    if (event.name.empty() || event.number.empty())
        return event.name + event.number;
    return event.name + " <" + event.number + ">";
}

int FramesIn(uint32_t format, size_t bytes)
{
    const size_t frameBytes = format == kLinkGsm ? kGsmBytes : kG711BytesPerBlock;
    return std::max(1, static_cast<int>(bytes / frameBytes));
}

class Iax2Link final : public CallLink {
public:
    explicit Iax2Link(const std::vector<uint32_t>& formats) : m_endpoint(Options(formats)) {}

    int Version() const override { return 2; }

    // 0 asks for 4569 and takes an ephemeral port when that one is taken;
    // a test's -1 asks for an ephemeral port outright.
    int Open(int localPort) override
    {
        return m_endpoint.Open(localPort == 0 ? -1 : localPort < 0 ? 0 : localPort);
    }

    int SocketHandle() const override { return m_endpoint.handle(); }
    bool ListensFromStart() const override { return true; }
    int NextDueMs() const override { return m_endpoint.NextDueMs(); }
    void Service() override { m_endpoint.Service(); }

    bool NextEvent(LinkEvent& out) override
    {
        m_ended.reset();
        while (m_endpoint.NextEvent(&m_event)) {
            out = LinkEvent{};
            if (Translate(out))
                return true;
        }
        return false;
    }

    void OfferCodecs() override {}
    void UseCodecs(const std::vector<uint32_t>& formats) override
    {
        if (!formats.empty())
            m_endpoint.SetFormats(formats);
    }
    void OnArrival(ArrivalFn fn) override { m_arrival = std::move(fn); }

    LinkCall NewCall() override
    {
        m_calls.push_back(std::make_unique<V2Call>());
        return m_calls.back().get();
    }

    int PlaceCall(LinkCall call, const CallTarget& target, const std::string& address) override
    {
        iax2::CallRequest request;
        request.user = target.user;
        request.password = target.password;
        request.host = address.empty() ? target.host : address;
        request.port = target.port;
        request.number = target.number;
        request.context = target.context;
        request.callingName = target.user;
        const int id = m_endpoint.PlaceCall(request);
        if (id < 0)
            return -1;
        Record(call)->id = id;
        return 0;
    }

    int PlaceCall(LinkCall call, const std::string& dialString) override
    {
        CallTarget target;
        return TargetOfDialString(dialString, target) ? PlaceCall(call, target, {}) : -1;
    }

    void TakeIncoming(LinkCall) override {}  // the endpoint accepted it and rings

    void RefuseIncoming(LinkCall call, const std::string&) override
    {
        End(call, "User busy", iax2::kCauseUserBusy);
    }

    bool UserAnswers() const override { return true; }

    void Answer(LinkCall call) override
    {
        V2Call* record = Record(call);
        if (record && record->incoming && !record->answered && m_endpoint.Answer(record->id) == 0)
            record->answered = true;
    }

    void HangUp(LinkCall call) override
    {
        const V2Call* record = Record(call);
        if (record && record->incoming && !record->answered)
            End(call, "Call rejected", iax2::kCauseCallRejected);
        else
            End(call, "Normal clearing", iax2::kCauseNormalClearing);
    }

    void Forget(LinkCall call) override { HangUp(call); }

    int SendVoice(LinkCall call, uint32_t format, const uint8_t* data, int lengthBytes,
                  int samples) override
    {
        const V2Call* record = Record(call);
        if (!record || record->id == 0)
            return -1;
        const iax2::ByteView payload(data, static_cast<size_t>(lengthBytes));
        return m_endpoint.SendVoice(record->id, format, payload, samples);
    }

    int SendTone(LinkCall call, char digit) override
    {
        const V2Call* record = Record(call);
        return record && record->id ? m_endpoint.SendDtmf(record->id, digit) : -1;
    }

    // The endpoint measures the round trip with its own pings.
    void RequestLag(LinkCall) override {}
    // In-sequence voice is not held.
    int JitterMs(LinkCall) const override { return 0; }
    int Unacknowledged() const override { return m_endpoint.OpenSessions(); }

    void Register(const CallTarget& account, const std::string& host) override
    {
        iax2::RegistrationRequest request;
        request.user = account.user;
        request.password = account.password;
        request.host = host;
        request.port = account.port;
        if (m_endpoint.Register(request) != 0) {
            std::fprintf(stderr, "velnar: cannot register: %s\n", m_endpoint.LastError().c_str());
            std::fflush(stderr);
        }
    }

    void Unregister() override { m_endpoint.Unregister(); }
    std::string RegistrationState() const override { return m_endpoint.RegistrationState(); }

private:
    // How long a frame after a gap waits for the missing one; frames in
    // sequence are not held. The playback queue behind the link pre-fills
    // 80 ms against jitter, so two frames' worth puts an overtaken frame
    // back in order without being heard as delay.
    static constexpr uint32_t kJitterDelayMs = 40;

    static iax2::EndpointOptions Options(const std::vector<uint32_t>& formats)
    {
        iax2::EndpointOptions options;
        options.jitterDelayMs = kJitterDelayMs;
        if (!formats.empty())
            options.formats = formats;
        return options;
    }

    V2Call* Record(LinkCall call) const
    {
        for (const auto& record : m_calls)
            if (record.get() == call)
                return record.get();
        return nullptr;
    }

    V2Call* RecordOf(int id) const
    {
        for (const auto& record : m_calls)
            if (record->id == id)
                return record.get();
        return nullptr;
    }

    void End(LinkCall call, const std::string& cause, uint8_t code)
    {
        auto found = std::find_if(m_calls.begin(), m_calls.end(),
                                  [call](const auto& record) { return record.get() == call; });
        if (found == m_calls.end())
            return;
        if ((*found)->id)
            m_endpoint.Hangup((*found)->id, cause, code);
        m_calls.erase(found);
    }

    // The record of a call the event ends stays until the next event, so
    // that the engine can still tell which of its calls it was.
    void Retire(V2Call* record)
    {
        auto found = std::find_if(m_calls.begin(), m_calls.end(),
                                  [record](const auto& own) { return own.get() == record; });
        if (found == m_calls.end())
            return;
        m_ended = std::move(*found);
        m_calls.erase(found);
    }

    bool Translate(LinkEvent& out);
    void Ending(LinkEvent& out, LinkEventType type, V2Call* record);

    iax2::Endpoint m_endpoint;
    iax2::Event m_event;
    std::vector<std::unique_ptr<V2Call>> m_calls;
    std::unique_ptr<V2Call> m_ended;
    ArrivalFn m_arrival;
};

// Events of calls the engine no longer knows are dropped here: the endpoint
// has ended those calls already.
bool Iax2Link::Translate(LinkEvent& out)
{
    using iax2::EventType;
    out.text = m_event.text;
    out.causeCode = m_event.causeCode;
    if (m_event.type == EventType::Registration) {
        out.type = LinkEventType::Registration;
        return true;
    }
    V2Call* record = RecordOf(m_event.call);
    if (m_event.type == EventType::IncomingCall) {
        m_calls.push_back(std::make_unique<V2Call>(V2Call{m_event.call, true, false}));
        out.type = LinkEventType::Incoming;
        out.call = m_calls.back().get();
        out.format = m_event.format;
        out.caller = CallerOf(m_event);
        return true;
    }
    if (!record)
        return false;
    out.call = record;
    out.endsCall = true;  // no other event starts a call
    switch (m_event.type) {
    case EventType::Accepted:
        out.type = LinkEventType::Accepted;
        out.format = m_event.format;
        break;
    case EventType::Answered: out.type = LinkEventType::Answered; break;
    case EventType::Voice:
        out.type = LinkEventType::Voice;
        out.format = m_event.format;
        out.data = m_event.payload.data();
        out.lengthBytes = static_cast<int>(m_event.payload.size());
        if (m_arrival)
            m_arrival(record, m_event.format, FramesIn(m_event.format, m_event.payload.size()),
                      m_event.timestamp, SteadyMs());
        break;
    case EventType::Hangup:
    case EventType::Busy:
    case EventType::Congestion: Ending(out, LinkEventType::HungUp, record); break;
    case EventType::Rejected: Ending(out, LinkEventType::Rejected, record); break;
    case EventType::Timeout: Ending(out, LinkEventType::TimedOut, record); break;
    default: out.type = LinkEventType::Other; break;
    }
    return true;
}

void Iax2Link::Ending(LinkEvent& out, LinkEventType type, V2Call* record)
{
    out.type = type;
    out.callLive = false;
    out.finished = true;
    if (out.text.empty())
        out.text = m_event.type == iax2::EventType::Busy         ? "User busy"
                   : m_event.type == iax2::EventType::Congestion ? "Congestion"
                                                                 : "";
    Retire(record);
}

}  // namespace

std::unique_ptr<CallLink> MakeIax2Link(const std::vector<uint32_t>& formats)
{
    return std::make_unique<Iax2Link>(formats);
}

}  // namespace velnar
