// Layer: endpoint (the top). Registration: REGREQ with a call token and the
// MD5 answer to REGAUTH, refresh at a random point of the granted period,
// and REGREL to release it. Each exchange is a dialog of its own.
#include <algorithm>
#include <random>

#include "iax/md5.h"
#include "iax2/endpoint.h"

namespace iax2 {

namespace {

constexpr int kDefaultRefreshSeconds = 60;
// A registrar granting (almost) nothing must not make us ask again in a
// tight loop.
constexpr int kMinRefreshSeconds = 2;

std::string Md5Answer(const std::string& challenge, const std::string& password)
{
    char hex[33];
    IaxMd5Hex(challenge.c_str(), password.c_str(), hex);
    return std::string(hex, 32);
}

}  // namespace

int Endpoint::Register(const RegistrationRequest& request)
{
    Peer registrar;
    if (ParseDotted(request.host, &registrar.address) != 0)
        return Fail("not a dotted IPv4 address: " + request.host);
    if (request.port <= 0 || request.port > 65535 || request.user.empty())
        return Fail("registration needs a user name and a port");
    if (m_socket.handle() < 0)
        return Fail("the endpoint has no socket");
    registrar.port = uint16_t(request.port);
    m_registration = request;
    m_registrar = registrar;
    m_registrationWanted = true;
    StartRegistration(false);
    return 0;
}

int Endpoint::Unregister()
{
    if (!m_registrationWanted)
        return 0;
    m_registrationWanted = false;
    m_nextRegistrationMs = UINT64_MAX;
    if (m_registrationText == "Registered")
        StartRegistration(true);
    else if (const auto found = m_sessions.find(m_registrationCall); found != m_sessions.end())
        Destroy(found->second.get());
    SetRegistrationState("Not registered");
    return 0;
}

Bytes Endpoint::RegistrationIes(const Session& session, const std::string& md5) const
{
    IeWriter ies;
    ies.Text(kIeUsername, session.username);
    if (!session.releasing)
        ies.U16(kIeRefresh, uint16_t(m_registration.refreshSeconds));
    if (!md5.empty())
        ies.Text(kIeMd5Result, md5);
    return ies.bytes();
}

void Endpoint::StartRegistration(bool releasing)
{
    if (const auto found = m_sessions.find(m_registrationCall); found != m_sessions.end())
        Destroy(found->second.get());
    Session* session = CreateSession(SessionKind::Registration, m_registrar);
    if (!session)
        return;
    session->releasing = releasing;
    session->username = m_registration.user;
    session->password = m_registration.password;
    session->openingCommand = releasing ? kRegRel : kRegReq;
    session->openingIes = RegistrationIes(*session, "");
    m_registrationCall = session->transport.localCall;
    SendOpening(session, "");
}

void Endpoint::SetRegistrationState(const std::string& text)
{
    if (text == m_registrationText)
        return;
    m_registrationText = text;
    Event event;
    event.type = EventType::Registration;
    event.text = text;
    Emit(std::move(event));
}

// `retry`: try again after a while (the registrar did not answer).
void Endpoint::RegistrationEnded(Session* session, const std::string& state, bool retry)
{
    Destroy(session);
    if (retry && m_registrationWanted)
        m_nextRegistrationMs = Now() + m_options.registrationRetryMs;
    SetRegistrationState(state);
}

void Endpoint::HandleRegistration(Session* session, const FullHeader& header, const Ies& ies)
{
    switch (header.subclass) {
    case kRegAuth:
        if (session->challenged || !(ies.authMethods.value_or(0) & kAuthMd5) || !ies.challenge)
            return RegistrationEnded(session, "Registration refused", false);
        session->challenged = true;
        Send(session, kTypeCommand, session->openingCommand,
             RegistrationIes(*session, Md5Answer(*ies.challenge, session->password)));
        return;
    case kRegAck: {
        SendAck(session, header);
        if (session->releasing)
            return RegistrationEnded(session, "Not registered", false);
        const int seconds =
            std::max<int>(ies.refresh.value_or(kDefaultRefreshSeconds), kMinRefreshSeconds);
        std::uniform_int_distribution<int> point(seconds * 500, seconds * 800);
        m_nextRegistrationMs = Now() + uint64_t(point(m_random));
        return RegistrationEnded(session, "Registered", false);
    }
    case kRegRej:
        SendAck(session, header);
        return RegistrationEnded(
            session, session->releasing ? "Not registered" : "Registration refused", false);
    default: SendAck(session, header); return;
    }
}

void Endpoint::ServiceRegistration(uint64_t now)
{
    if (!m_registrationWanted || now < m_nextRegistrationMs || m_registrationCall != 0)
        return;
    m_nextRegistrationMs = UINT64_MAX;
    StartRegistration(false);
}

}  // namespace iax2
