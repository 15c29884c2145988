// Calls over version 1: the IAX library, which keeps its sessions and socket
// in process-wide state, so one such link exists at a time.
#include "engine/call_link.h"
#include "engine/steady_ms.h"

#include "iax/iax.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <ctime>

namespace velnar {

namespace {

// Timer entries due this soon after a wake are served at it.
constexpr int kEarlyServeMs = 2;

// GSM messages may carry several 33-byte frames; other formats count as one.
int FramesIn(const IaxEvent* event)
{
    constexpr int kGsmBytes = 33;
    if (event->media.format == static_cast<int>(kLinkGsm) && event->media.length >= kGsmBytes)
        return event->media.length / kGsmBytes;
    return 1;
}

// Version 1 calls carry GSM only: voice in any other format is not played.
LinkEventType TypeOf(const IaxEvent* event)
{
    switch (event->type) {
    case EvAccept: return LinkEventType::Accepted;
    case EvAnswer: return LinkEventType::Answered;
    case EvVoice:
        return event->media.format == static_cast<int>(kLinkGsm) ? LinkEventType::Voice
                                                                 : LinkEventType::Other;
    case EvHangup: return LinkEventType::HungUp;
    case EvReject: return LinkEventType::Rejected;
    case EvTimeout: return LinkEventType::TimedOut;
    case EvAuthRequest: return LinkEventType::AuthRequest;
    case EvLagReply: return LinkEventType::LagReply;
    default: return LinkEventType::Other;
    }
}

class Iax1Link final : public CallLink {
public:
    ~Iax1Link() override
    {
        IaxSetVoiceArrivalHook(nullptr, nullptr);
        Release();
        IaxCloseSocket();
    }

    int Version() const override { return 1; }

    int Open(int localPort) override
    {
        // The library clock then reads milliseconds since midnight (UTC).
        const uint32_t midnightMs = static_cast<uint32_t>(std::time(nullptr) % 86400) * 1000u;
        IaxClockOffset = static_cast<int>(midnightMs - SteadyMs());
        // Jitter-buffered voice due within 2 ms of a wake (a received frame,
        // captured sound) is handed out at it: 2 ms earlier, one wake fewer.
        IaxSetEarlyServeMs(kEarlyServeMs);
        if (IaxOpenSocket(localPort) < 0)
            return -1;
        IaxSetVoiceArrivalHook(&Iax1Link::Arrived, this);
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        if (getsockname(IaxSocketHandle(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
            return -1;
        return ntohs(bound.sin_port);
    }

    int SocketHandle() const override { return IaxSocketHandle(); }
    bool ListensFromStart() const override { return false; }
    int NextDueMs() const override { return IaxNextDueMs(); }
    void Service() override {}

    bool NextEvent(LinkEvent& out) override
    {
        Release();
        m_event = IaxNextEvent(0);
        if (!m_event)
            return false;
        out = LinkEvent{};
        out.type = TypeOf(m_event);
        out.call = m_event->session;
        out.callLive = IaxSessionIsLive(m_event->session) != 0;
        // A time-out, hang-up, challenge or reject never starts a call, nor
        // can a session that the library ended as it handed the event out.
        out.endsCall = out.type == LinkEventType::TimedOut || out.type == LinkEventType::HungUp ||
                       out.type == LinkEventType::AuthRequest ||
                       out.type == LinkEventType::Rejected || !out.callLive;
        Describe(out);
        return true;
    }

    void OfferCodecs() override { IaxSetFormats(static_cast<int>(kLinkGsm)); }
    void UseCodecs(const std::vector<uint32_t>&) override {}
    void OnArrival(ArrivalFn fn) override { m_arrival = std::move(fn); }

    LinkCall NewCall() override { return IaxNewSession(); }

    int PlaceCall(LinkCall call, const CallTarget& target, const std::string& address) override
    {
        const std::string& host = address.empty() ? target.host : address;
        const IaxCallFields fields{target.user.c_str(),   target.password.c_str(),
                                   host.c_str(),          target.port,
                                   target.number.c_str(), target.context.c_str()};
        return IaxPlaceCallFields(Session(call), &fields);
    }

    int PlaceCall(LinkCall call, const std::string& dialString) override
    {
        return IaxPlaceCall(Session(call), nullptr, dialString.c_str(), nullptr);
    }

    void TakeIncoming(LinkCall call) override
    {
        IaxAcceptCall(Session(call));
        IaxSendRinging(Session(call));
    }

    void RefuseIncoming(LinkCall call, const std::string& reason) override
    {
        IaxRejectCall(Session(call), reason.c_str());
    }

    bool UserAnswers() const override { return false; }
    void Answer(LinkCall call) override
    {
        IaxAnswerCall(Session(call));
        std::fputs("Answering call!\n", IaxDiagnosticStream());
        std::fflush(IaxDiagnosticStream());
    }
    void HangUp(LinkCall call) override { IaxHangUp(Session(call), ""); }
    void Forget(LinkCall call) override { IaxDestroySession(Session(call)); }

    int SendVoice(LinkCall call, uint32_t format, const uint8_t* data, int lengthBytes,
                  int) override
    {
        return IaxSendVoice(Session(call), static_cast<int>(format), data, lengthBytes);
    }

    int SendTone(LinkCall call, char digit) override
    {
        return IaxSendTouchTone(Session(call), digit);
    }

    void RequestLag(LinkCall call) override { IaxLag(Session(call)); }
    int JitterMs(LinkCall call) const override { return IaxJitterBufferMs(Session(call)); }
    int Unacknowledged() const override { return IaxClosingSessionCount(); }

    void Register(const CallTarget&, const std::string&) override {}
    void Unregister() override {}
    std::string RegistrationState() const override { return {}; }

private:
    static IaxSession* Session(LinkCall call) { return static_cast<IaxSession*>(call); }

    void Describe(LinkEvent& out) const
    {
        switch (m_event->type) {
        case EvVoice:
            out.format = static_cast<uint32_t>(m_event->media.format);
            out.data = m_event->media.data;
            out.lengthBytes = m_event->media.length;
            break;
        case EvLagReply: out.lagMs = m_event->lag.lag; break;
        case EvAuthRequest:
            out.md5Offered =
                (m_event->authRequest.methods & IaxAuthMd5) && m_event->authRequest.challenge;
            break;
        case EvNewCall:
            if (m_event->call.callerId)
                out.caller = m_event->call.callerId;
            break;
        default: break;
        }
    }

    void Release()
    {
        if (m_event)
            IaxFreeEvent(m_event);
        m_event = nullptr;
    }

    static void Arrived(const IaxEvent* event, uint32_t timestampMs, uint32_t arrivalMs, void* user)
    {
        auto* link = static_cast<Iax1Link*>(user);
        if (link->m_arrival)
            link->m_arrival(event->session, static_cast<uint32_t>(event->media.format),
                            FramesIn(event), timestampMs, arrivalMs);
    }

    IaxEvent* m_event = nullptr;
    ArrivalFn m_arrival;
};

}  // namespace

std::unique_ptr<CallLink> MakeIax1Link()
{
    return std::make_unique<Iax1Link>();
}

}  // namespace velnar
