// The protocol behind the phone's calls, and the registration that lets the
// server's calls reach it (version 2).
#include "engine/iax_phone.h"

#include "engine/server_address.h"

#include <cstdio>

namespace velnar {

void CIaxPhone::UseProtocol(const ProtocolSettings& protocol, const CallTarget& account)
{
    m_protocol = protocol;
    m_account = account;
    // A call in progress keeps the link it was made on.
    if (!m_bIdle || m_pCurrentCall) {
        m_protocolPending = true;
        return;
    }
    ApplyProtocol();
}

// Another version means another library, socket and local port; the old
// link's registration is given up first.
void CIaxPhone::ApplyProtocol()
{
    const int version = m_protocol.version == 2 ? 2 : 1;
    if (!m_link || m_link->Version() != version) {
        if (m_link)
            m_link->Unregister();
        CloseLink();
        OpenLink();
        if (m_link && m_audioOpen)
            m_link->OfferCodecs();
        RegistrationChanged(RegistrationState());
    } else {
        m_link->UseCodecs(Formats());
    }
    RegisterAccount();
    ArmLibraryTimer();
}

std::vector<uint32_t> CIaxPhone::Formats() const
{
    std::vector<uint32_t> formats;
    for (Codec codec : m_protocol.codecs)
        formats.push_back(codec == Codec::Ulaw   ? kLinkUlaw
                          : codec == Codec::Alaw ? kLinkAlaw
                                                 : kLinkGsm);
    return formats;
}

void CIaxPhone::RegisterAccount()
{
    m_registrarResolver->Cancel();
    if (!m_link || m_link->Version() != 2)
        return;
    const bool usablePort = m_account.port >= 1 && m_account.port <= 65535;
    if (!m_protocol.registerForCalls || m_account.host.empty() || !usablePort) {
        m_link->Unregister();
        return;
    }
    const std::string name = HostToLookUp(m_account.host);
    if (name.empty()) {
        m_link->Register(m_account, m_account.host);
        return;
    }
    m_registrarResolver->Lookup(
        name, [this](const std::string& address) { OnRegistrarResolved(address); });
}

void CIaxPhone::OnRegistrarResolved(const std::string& address)
{
    if (!m_link)
        return;
    if (address.empty()) {
        std::fprintf(stderr, "velnar: cannot register: the server's name does not resolve\n");
        std::fflush(stderr);
        RegistrationChanged("Registration refused");
        return;
    }
    m_link->Register(m_account, address);
    ArmLibraryTimer();
}

void CIaxPhone::RegistrationChanged(const std::string& state)
{
    if (state == m_registrationShown)
        return;
    m_registrationShown = state;
    m_pOwner.RegistrationChanged(state);
}

int CIaxPhone::ProtocolVersion() const
{
    return m_link ? m_link->Version() : (m_protocol.version == 2 ? 2 : 1);
}

std::string CIaxPhone::RegistrationState() const
{
    if (!m_link)
        return m_protocol.version == 2 ? "Not registered" : "";
    return m_link->RegistrationState();
}

int CIaxPhone::LocalPort() const
{
    return m_link ? m_localPort : -1;
}

}  // namespace velnar
