// Call control: lifecycle, placing and ending calls, taking in incoming
// calls and reacting to the library's events.
#include "engine/iax_phone.h"

#include "engine/server_address.h"
#include "iax/iax.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>
#include <utility>

namespace velnar {

namespace {

const char kBusyReason[] = "Too many calls, we're busy!";
// Timer entries due this soon after a wake are served at it.
constexpr int kEarlyServeMs = 2;

// The library's default tick count: the monotonic clock in milliseconds.
uint32_t MonotonicMs()
{
    auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}

}  // namespace

CIaxPhone::CIaxPhone(PhoneOwner& owner, std::unique_ptr<WaveIn> waveIn,
                     std::unique_ptr<WaveOut> waveOut, int localPort,
                     const ProtocolSettings& protocol)
    : m_pOwner(owner),
      m_hWaveOut(std::move(waveOut)),
      m_hWaveIn(std::move(waveIn)),
      m_protocol(protocol)
{
    Start(localPort);
}

// A call still in progress is not hung up on the wire.
CIaxPhone::~CIaxPhone()
{
    *m_alive = false;
    IaxSetVoiceArrivalHook(nullptr, nullptr);
    m_bIdle = true;
    m_resolver->Cancel();
    m_pump.Stop();
    IaxCloseSocket();
    CloseAudio();
    ReleasePlayback();
    m_pCurrentCall = nullptr;
    ReleaseCalls();
}

void CIaxPhone::Start(int localPort)
{
    // The library clock then reads milliseconds since midnight (UTC).
    uint32_t midnightMs = static_cast<uint32_t>(std::time(nullptr) % 86400) * 1000u;
    IaxClockOffset = static_cast<int>(midnightMs - MonotonicMs());
    // Jitter-buffered voice due within 2 ms of a wake (a received frame,
    // captured sound) is handed out at it: 2 ms earlier, one wake fewer.
    IaxSetEarlyServeMs(kEarlyServeMs);
    if (IaxOpenSocket(localPort) < 0)
        return;
    m_localPort = localPort > 0 ? localPort : IaxDefaultPort;
    IaxSetVoiceArrivalHook(&CIaxPhone::OnVoiceArrival, this);
    m_socket = IaxSocketHandle();
    m_pump.SetSocket(m_socket);
    if (OpenAudio() == 0)
        IaxSetFormats(kGsmFormat);
    else
        ReportNoSound();
}

void CIaxPhone::Dial(const std::string& dialString)
{
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
    if (IsEmptyTarget(target) || !m_bIdle || RefusesTarget(target))
        return;
    m_strDialString.clear();
    m_target = target;
    m_bIdle = false;
    // A port no call can go to fails at once, without waiting for the name.
    const bool usablePort = m_target.port >= 1 && m_target.port <= 65535;
    const std::string name = usablePort ? HostToLookUp(m_target.host) : std::string();
    PlaceCallWith(name, [this](IaxSession* session, const std::string& address) {
        const std::string& host = address.empty() ? m_target.host : address;
        const IaxCallFields fields{
            m_target.user.c_str(), m_target.password.c_str(), host.c_str(),
            m_target.port,         m_target.number.c_str(),   m_target.context.c_str()};
        return IaxPlaceCallFields(session, &fields);
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
                  [dialString](IaxSession* session, const std::string& address) {
                      const std::string dial =
                          address.empty() ? dialString : WithServerAddress(dialString, address);
                      return IaxPlaceCall(session, nullptr, dial.c_str(), nullptr);
                  });
}

void CIaxPhone::PlaceCallWith(const std::string& serverName, const SendNew& sendNew)
{
    if (m_pOutgoingSession) {
        SetStatus("Already attempting to call somewhere, please cancel first!");
        return;
    }
    SetStatus("Calling...");
    m_pOutgoingSession = IaxNewSession();
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

// The library is handed only numeric addresses: a name would be looked up
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
PhoneCall* CIaxPhone::NewCall(IaxSession* session)
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

PhoneCall* CIaxPhone::FindCall(IaxSession* session) const
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
    for (int pass = 0; pass < 2 && !stop; ++pass) {
        DrainLibrary(newcomers, stop);
        const int dueMs = IaxNextDueMs();
        if (dueMs < 0 || dueMs > kEarlyServeMs)
            break;
    }
    ArmLibraryTimer();
}

void CIaxPhone::DrainLibrary(int& newcomers, bool& stop)
{
    while (!stop) {
        IaxEvent* event = IaxNextEvent(0);
        if (!event)
            break;
        if (PhoneCall* call = FindCall(event->session))
            HandleEvent(event, call);
        else if (EndsItsSession(event))
            IaxDestroySession(event->session);  // a stranger's or a forgotten session
        else
            TakeNewcomer(event, newcomers, stop);
        IaxFreeEvent(event);
    }
}

// A time-out, hang-up, authentication request or reject never starts a call:
// on a session the engine does not know it only ends that session. Nor can a
// session that the library ended when it handed the event out.
bool CIaxPhone::EndsItsSession(const IaxEvent* event)
{
    switch (event->type) {
    case EvTimeout:
    case EvHangup:
    case EvAuthRequest:
    case EvReject: return true;
    default: return !IaxSessionIsLive(event->session);
    }
}

// The first other event of a session the engine does not know is a new
// incoming call.
void CIaxPhone::TakeNewcomer(IaxEvent* event, int& newcomers, bool& stop)
{
    if (++newcomers >= 4)
        SetStatus("Missed a call... too many sessions open.");
    if (m_pCurrentCall) {
        SetStatus(
            "Incoming call ignored, there's already a call waiting for answer... "
            "please accept or reject first");
        IaxRejectCall(event->session, kBusyReason);
        return;
    }
    if (!NewCall(event->session)) {
        IaxDestroySession(event->session);
        stop = true;
        return;
    }
    ReviveAudio();
    IaxAcceptCall(event->session);
    IaxSendRinging(event->session);
    const bool named = event->type == EvNewCall && event->call.callerId;
    m_pOwner.IncomingCall(named ? event->call.callerId : "");
}

void CIaxPhone::HandleEvent(IaxEvent* event, PhoneCall* call)
{
    // The library ends the session of a hang-up or reject as it hands the
    // event out; the record must not match a new session made at the same
    // address.
    if (!IaxSessionIsLive(call->session))
        call->session = nullptr;
    // Only the current call acts on the phone: a waiting call that was
    // superseded goes quietly when its session ends, and whatever else its
    // caller sends (an answer, voice, a reject) must not reach the call the
    // user placed.
    if (call != m_pCurrentCall) {
        if (EndsItsSession(event))
            ReleaseCall(call);
        return;
    }
    switch (event->type) {
    case EvAccept:
        CallAnswered();  // the owner sees the call time with the text
        SetStatus("Connected");
        break;
    case EvHangup:
        SetStatus("Call disconnected by peer");
        HangUp();
        break;
    case EvReject: SetStatus("Authentication was rejected"); break;
    case EvVoice:
        if (event->media.format == kGsmFormat)
            PlayVoice(event, call);
        break;
    case EvTimeout:
        SetStatus("Time out- server dead?");
        HangUp();
        break;
    case EvAnswer:
        Answer();
        CallAnswered();
        break;
    case EvLagReply: m_stats.RoundTrip(event->lag.lag); break;
    case EvAuthRequest:
        SetStatus(PlainAnswerRefused(event) ? "Password cannot be sent in plain text"
                                            : "Authentyfication required!");
        HangUp();
        break;
    default: break;
    }
}

// The library answers a challenge by itself; it hands one on when the
// password it would have to send in plain text holds ';' or '=', which
// would read as keys of their own.
bool CIaxPhone::PlainAnswerRefused(const IaxEvent* event) const
{
    const auto& request = event->authRequest;
    const bool md5 = (request.methods & IaxAuthMd5) && request.challenge;
    return !md5 && m_target.password.find_first_of(";=") != std::string::npos;
}

void CIaxPhone::Answer()
{
    if (m_pCurrentCall)
        IaxAnswerCall(m_pCurrentCall->session);
    std::fputs("Answering call!\n", IaxDiagnosticStream());
    std::fflush(IaxDiagnosticStream());
    m_bTalking = true;
}

void CIaxPhone::HangUp()
{
    SetStatus("Hanging up...");
    m_bIdle = true;
    ResetCall();
    ArmLibraryTimer();
}

void CIaxPhone::HangUpBeforeExit(int maxMs, std::function<void()> done)
{
    if (m_exitWait.IsWaiting())
        return;
    if (!m_bIdle)
        HangUp();
    m_exitWait.Start(maxMs, std::move(done));
}

void CIaxPhone::ResetCall()
{
    // A call still waiting for its server's address has sent nothing: its
    // session goes with the records below, and nothing goes on the wire.
    m_resolver->Cancel();
    const bool resolving = std::exchange(m_bResolving, false);
    if (m_pCurrentCall && m_pCurrentCall->session && !resolving) {
        IaxHangUp(m_pCurrentCall->session, "");
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
}

// Every record goes, with its codec states, and the library forgets their
// sessions: nothing is sent, and nothing of them outlives the call.
void CIaxPhone::ReleaseCalls()
{
    while (PhoneCall* call = m_pCalls) {
        m_pCalls = call->next;
        if (call->session)
            IaxDestroySession(call->session);
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
        IaxDestroySession(call->session);
    delete call;
}

// An outgoing call whose record could not be made leaves the engine in a
// call without a current record, and one still waiting for its server's
// address has nowhere to send: a key press then sends nothing.
void CIaxPhone::SendTones(const std::string& tones)
{
    if (m_bIdle || m_bResolving || tones.empty() || !m_pCurrentCall)
        return;
    m_strTones = tones;
    IaxSendTouchTone(m_pCurrentCall->session, m_strTones[0]);
    ArmLibraryTimer();
}

bool CIaxPhone::IsRinging() const
{
    return false;
}

void CIaxPhone::AnswerIncoming() {}

void CIaxPhone::UseProtocol(const ProtocolSettings& protocol, const CallTarget& account)
{
    m_protocol = protocol;
    m_account = account;
}

int CIaxPhone::ProtocolVersion() const
{
    return 1;
}

std::string CIaxPhone::RegistrationState() const
{
    return {};
}

int CIaxPhone::LocalPort() const
{
    return m_socket < 0 ? -1 : m_localPort;
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
