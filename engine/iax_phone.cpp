// Call control: lifecycle, placing and ending calls, taking in incoming
// calls and reacting to the link's events.
#include "engine/iax_phone.h"

#include "engine/server_address.h"

#include <cstdio>
#include <ctime>
#include <new>
#include <utility>

namespace velnar {

namespace {

const char kBusyReason[] = "Too many calls, we're busy!";
// Timer entries due this soon after a wake are served at it.
constexpr int kEarlyServeMs = 2;

}  // namespace

CIaxPhone::CIaxPhone(PhoneOwner& owner, std::unique_ptr<WaveIn> waveIn,
                     std::unique_ptr<WaveOut> waveOut, int localPort,
                     const ProtocolSettings& protocol)
    : m_pOwner(owner),
      m_hWaveOut(std::move(waveOut)),
      m_hWaveIn(std::move(waveIn)),
      m_requestedPort(localPort),
      m_protocol(protocol)
{
    Start();
}

// A call still in progress is not hung up on the wire.
CIaxPhone::~CIaxPhone()
{
    *m_alive = false;
    m_bIdle = true;
    m_resolver->Cancel();
    m_registrarResolver->Cancel();
    m_pump.Stop();
    CloseAudio();
    ReleasePlayback();
    m_pCurrentCall = nullptr;
    ReleaseCalls();
    m_link.reset();
}

void CIaxPhone::Start()
{
    OpenLink();
    if (OpenAudio() == 0) {
        if (m_link)
            m_link->OfferCodecs();
    } else {
        ReportNoSound();
    }
}

// Version 1 listens on its port quietly, as it always has; version 2 says
// which port it found free.
void CIaxPhone::OpenLink()
{
    m_link = m_protocol.version == 2 ? MakeIax2Link(Formats()) : MakeIax1Link();
    m_localPort = m_link->Open(m_requestedPort);
    if (m_localPort < 0) {
        m_link.reset();
        return;
    }
    m_link->OnArrival(
        [this](LinkCall session, uint32_t format, int frames, uint32_t stamp, uint32_t arrival) {
            OnVoiceArrival(session, format, frames, stamp, arrival);
        });
    m_socket = m_link->SocketHandle();
    m_pump.SetSocket(m_socket, [this] { return m_link ? m_link->NextDueMs() : -1; });
    if (m_link->Version() == 2) {
        if (m_requestedPort == 0 && m_localPort != kVersion2ServerPort)
            std::fprintf(stderr, "velnar: local UDP port %d is taken; ", kVersion2ServerPort);
        else
            std::fprintf(stderr, "velnar: ");
        std::fprintf(stderr, "version 2 on local UDP port %d\n", m_localPort);
        std::fflush(stderr);
    }
    if (m_link->ListensFromStart())
        EnableReadNotifications();
}

void CIaxPhone::CloseLink()
{
    m_registrarResolver->Cancel();
    m_pump.Stop();
    m_link.reset();
    m_socket = -1;
    m_localPort = -1;
}

void CIaxPhone::Dial(const std::string& dialString)
{
    if (IsRinging()) {
        AnswerIncoming();
        return;
    }
    if (dialString.empty() || !m_bIdle)
        return;
    m_strDialString = dialString;
    m_target = CallTarget{};
    m_bIdle = false;
    PlaceCall(m_strDialString);
    ArmLibraryTimer();
}

void CIaxPhone::Dial(const CallTarget& target)
{
    if (IsRinging()) {
        AnswerIncoming();
        return;
    }
    if (IsEmptyTarget(target) || !m_bIdle || RefusesTarget(target))
        return;
    m_strDialString.clear();
    m_target = target;
    m_bIdle = false;
    // A port no call can go to fails at once, without waiting for the name.
    const bool usablePort = m_target.port >= 1 && m_target.port <= 65535;
    const std::string name = usablePort ? HostToLookUp(m_target.host) : std::string();
    PlaceCallWith(name, [this](LinkCall session, const std::string& address) {
        return m_link->PlaceCall(session, m_target, address);
    });
    ArmLibraryTimer();
}

// Refused before anything is sent, ending as a failed call does.
bool CIaxPhone::RefusesTarget(const CallTarget& target)
{
    const char* status = !IsDialableNumber(target.number) || !IsDialableNumber(target.context)
                             ? "Invalid number"
                         : !FitsSecretLength(target.password) ? "Password too long"
                                                              : nullptr;
    if (!status)
        return false;
    SetStatus(status);
    SetStatus("Ready");
    return true;
}

void CIaxPhone::PlaceCall(const std::string& dialString)
{
    PlaceCallWith(ServerNameToLookUp(dialString),
                  [this, dialString](LinkCall session, const std::string& address) {
                      const std::string dial =
                          address.empty() ? dialString : WithServerAddress(dialString, address);
                      return m_link->PlaceCall(session, dial);
                  });
}

void CIaxPhone::PlaceCallWith(const std::string& serverName, const SendNew& sendNew)
{
    if (m_pOutgoingSession) {
        SetStatus("Already attempting to call somewhere, please cancel first!");
        return;
    }
    SetStatus("Calling...");
    if (!m_link) {
        SetStatus("Cannot connect- bad server name? ");
        HangUp();
        return;
    }
    m_pOutgoingSession = m_link->NewCall();
    if (!NewCall(m_pOutgoingSession))
        return;
    EnableReadNotifications();
    ReviveAudio();
    if (serverName.empty()) {
        ContactServer(sendNew, {});
    } else {
        m_bResolving = true;
        m_resolver->Lookup(serverName, [this, sendNew](const std::string& address) {
            OnServerResolved(sendNew, address);
        });
    }
    StartCapture();
}

// The link is handed only numeric addresses: a name would be looked up
// inside it, holding up the event loop for as long as the resolver takes.
void CIaxPhone::ContactServer(const SendNew& sendNew, const std::string& address)
{
    if (sendNew(m_pOutgoingSession, address) != 0) {
        SetStatus("Cannot connect- bad server name? ");
        HangUp();
    }
}

void CIaxPhone::OnServerResolved(const SendNew& sendNew, const std::string& address)
{
    m_bResolving = false;
    if (address.empty()) {
        SetStatus("Cannot connect- bad server name? ");
        HangUp();
        return;
    }
    ContactServer(sendNew, address);
    ArmLibraryTimer();
}

void CIaxPhone::UseResolver(std::unique_ptr<NameResolver> resolver)
{
    m_resolver->Cancel();
    m_resolver = std::move(resolver);
}

// Puts a new record at the head of the list and makes it current.
PhoneCall* CIaxPhone::NewCall(LinkCall session)
{
    PhoneCall* call = new (std::nothrow) PhoneCall;
    if (!call)
        return nullptr;
    call->startTime = std::time(nullptr);
    m_stats.Start();
    call->session = session;
    call->next = m_pCalls;
    m_pCalls = call;
    m_pCurrentCall = call;
    return call;
}

PhoneCall* CIaxPhone::FindCall(LinkCall session) const
{
    for (PhoneCall* call = m_pCalls; call; call = call->next)
        if (call->session == session)
            return call;
    return nullptr;
}

size_t CIaxPhone::CallCount() const
{
    size_t count = 0;
    for (const PhoneCall* call = m_pCalls; call; call = call->next)
        ++count;
    return count;
}

// A datagram that the jitter buffer parks ends a pass with nothing handed
// out; what it parked for no longer than the early-serve allowance is taken
// by one more pass instead of a wake of its own.
void CIaxPhone::OnNetworkEvent()
{
    int newcomers = 0;
    bool stop = false;
    for (int pass = 0; pass < 2 && !stop && m_link; ++pass) {
        m_link->Service();
        DrainLibrary(newcomers, stop);
        const int dueMs = m_link ? m_link->NextDueMs() : -1;
        if (dueMs < 0 || dueMs > kEarlyServeMs)
            break;
    }
    ArmLibraryTimer();
}

void CIaxPhone::DrainLibrary(int& newcomers, bool& stop)
{
    LinkEvent event;
    while (!stop && m_link && m_link->NextEvent(event)) {
        if (event.type == LinkEventType::Registration)
            RegistrationChanged(event.text);
        else if (PhoneCall* call = FindCall(event.call))
            HandleEvent(event, call);
        else if (event.endsCall)
            m_link->Forget(event.call);  // a stranger's or a forgotten call
        else
            TakeNewcomer(event, newcomers, stop);
    }
}

// The first other event of a call the engine does not know is a new
// incoming call.
void CIaxPhone::TakeNewcomer(const LinkEvent& event, int& newcomers, bool& stop)
{
    if (++newcomers >= 4)
        SetStatus("Missed a call... too many sessions open.");
    if (m_pCurrentCall) {
        SetStatus(
            "Incoming call ignored, there's already a call waiting for answer... "
            "please accept or reject first");
        m_link->RefuseIncoming(event.call, kBusyReason);
        return;
    }
    PhoneCall* call = NewCall(event.call);
    if (!call) {
        m_link->Forget(event.call);
        stop = true;
        return;
    }
    ReviveAudio();
    m_link->TakeIncoming(event.call);
    if (m_link->UserAnswers()) {
        call->ringing = true;
        call->format = event.format;
        m_bIdle = false;
    }
    m_pOwner.IncomingCall(event.caller);
}

void CIaxPhone::HandleEvent(const LinkEvent& event, PhoneCall* call)
{
    // The link ends the call of a hang-up or reject as it hands the event
    // out; the record must not match a new call made at the same address.
    if (!event.callLive)
        call->session = nullptr;
    // Only the current call acts on the phone: a waiting call that was
    // superseded goes quietly when its session ends, and whatever else its
    // caller sends (an answer, voice, a reject) must not reach the call the
    // user placed.
    if (call != m_pCurrentCall) {
        if (event.endsCall)
            ReleaseCall(call);
        return;
    }
    switch (event.type) {
    case LinkEventType::Accepted:
        if (event.format)
            call->format = event.format;
        CallAnswered();  // the owner sees the call time with the text
        SetStatus("Connected");
        break;
    case LinkEventType::HungUp: EndedByFarEnd(event, "Call disconnected by peer"); break;
    case LinkEventType::Rejected:
        if (event.finished)
            EndedByFarEnd(event, "Authentication was rejected");
        else
            SetStatus("Authentication was rejected");
        break;
    case LinkEventType::Voice: PlayVoice(event, call); break;
    case LinkEventType::TimedOut: EndedByFarEnd(event, "Time out- server dead?"); break;
    case LinkEventType::Answered:
        Answer();
        CallAnswered();
        break;
    case LinkEventType::LagReply: m_stats.RoundTrip(event.lagMs); break;
    case LinkEventType::AuthRequest:
        SetStatus(PlainAnswerRefused(event) ? "Password cannot be sent in plain text"
                                            : "Authentyfication required!");
        HangUp();
        break;
    default: break;
    }
}

void CIaxPhone::EndedByFarEnd(const LinkEvent& event, const char* status)
{
    ReportCause(event);
    SetStatus(status);
    HangUp();
}

// The status line keeps the designed texts; why the far end ended the call
// goes to standard error.
void CIaxPhone::ReportCause(const LinkEvent& event) const
{
    if (event.text.empty() && event.causeCode < 0)
        return;
    std::fprintf(stderr, "velnar: the call ended: %s", event.text.c_str());
    if (event.causeCode >= 0)
        std::fprintf(stderr, " (cause %d)", event.causeCode);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The library answers a challenge by itself; it hands one on when the
// password it would have to send in plain text holds ';' or '=', which
// would read as keys of their own.
bool CIaxPhone::PlainAnswerRefused(const LinkEvent& event) const
{
    return !event.md5Offered && m_target.password.find_first_of(";=") != std::string::npos;
}

void CIaxPhone::Answer()
{
    if (m_pCurrentCall)
        m_link->Answer(m_pCurrentCall->session);
    m_bTalking = true;
}

bool CIaxPhone::IsRinging() const
{
    return m_pCurrentCall && m_pCurrentCall->ringing;
}

// The user takes the call that rings: speech flows both ways from here.
void CIaxPhone::AnswerIncoming()
{
    if (!IsRinging())
        return;
    m_pCurrentCall->ringing = false;
    m_link->Answer(m_pCurrentCall->session);
    m_bTalking = true;
    CallAnswered();
    SetStatus("Connected");
    StartCapture();
    ArmLibraryTimer();
}

void CIaxPhone::HangUp()
{
    SetStatus("Hanging up...");
    m_bIdle = true;
    ResetCall();
    ArmLibraryTimer();
}

// An exiting phone also gives up its registration, so that the server does
// not send calls to a phone that is gone; both count as hang-ups to wait for.
void CIaxPhone::HangUpBeforeExit(int maxMs, std::function<void()> done)
{
    if (m_exitWait.IsWaiting())
        return;
    if (!m_bIdle)
        HangUp();
    if (m_link)
        m_link->Unregister();
    ArmLibraryTimer();
    m_exitWait.Start(maxMs, std::move(done));
}

void CIaxPhone::ResetCall()
{
    // A call still waiting for its server's address has sent nothing: its
    // session goes with the records below, and nothing goes on the wire.
    m_resolver->Cancel();
    const bool resolving = std::exchange(m_bResolving, false);
    if (m_pCurrentCall && m_pCurrentCall->session && !resolving) {
        m_link->HangUp(m_pCurrentCall->session);
        m_pCurrentCall->session = nullptr;
    }
    m_bTalking = false;
    CallOver();
    m_pCurrentCall = nullptr;
    ReleaseCalls();
    m_pOutgoingSession = nullptr;
    if (m_audioOpen)
        m_capture.Stop();
    SetStatus("Ready");
    if (std::exchange(m_protocolPending, false))
        ApplyProtocol();
}

// Every record goes, with its codec states, and the link forgets their
// calls: nothing of them outlives the call.
void CIaxPhone::ReleaseCalls()
{
    while (PhoneCall* call = m_pCalls) {
        m_pCalls = call->next;
        if (call->session && m_link)
            m_link->Forget(call->session);
        delete call;
    }
}

// One record that is not the current call: it and its session go, silently.
void CIaxPhone::ReleaseCall(PhoneCall* call)
{
    for (PhoneCall** link = &m_pCalls; *link; link = &(*link)->next) {
        if (*link == call) {
            *link = call->next;
            break;
        }
    }
    if (call->session && call->session == m_pOutgoingSession)
        m_pOutgoingSession = nullptr;
    if (call->session)
        m_link->Forget(call->session);
    delete call;
}

// An outgoing call whose record could not be made leaves the engine in a
// call without a current record, and one still waiting for its server's
// address has nowhere to send: a key press then sends nothing. Nor does it
// to a call that rings here and has not been taken.
void CIaxPhone::SendTones(const std::string& tones)
{
    if (m_bIdle || m_bResolving || tones.empty() || !m_pCurrentCall || IsRinging())
        return;
    m_strTones = tones;
    m_link->SendTone(m_pCurrentCall->session, m_strTones[0]);
    ArmLibraryTimer();
}

void CIaxPhone::SetStatus(const std::string& text)
{
    m_pOwner.ShowStatus(text);
}

void CIaxPhone::EnableReadNotifications()
{
    m_pump.EnableReading();
}

// Re-armed after every drain and every send that may have queued a frame.
void CIaxPhone::ArmLibraryTimer()
{
    m_pump.Arm();
}

void CIaxPhone::OnLibraryWake()
{
    OnNetworkEvent();
    ReclaimPlayback();
    // Last: what it runs may end the program.
    m_exitWait.Check();
}

}  // namespace velnar
