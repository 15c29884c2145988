// The echo service as a registrar: REGREQ and REGREL, each its own small
// dialog opened only with a valid call token, challenged with MD5 when the
// service has a password. What it grants is remembered by user name.
#include "tools/echo_v2.h"

#include <arpa/inet.h>

#include <algorithm>
#include <ctime>

namespace echo2 {
namespace {

constexpr int kDefaultRefreshSeconds = 60;
constexpr int kMaxRefreshSeconds = 60;
// A registrant asking for less would otherwise refresh in a tight loop.
constexpr int kMinRefreshSeconds = 10;
constexpr size_t kMaxRegistrations = 1024;
// How long a finished exchange is kept, to answer a repeated request again.
constexpr auto kDialogMemory = std::chrono::seconds(10);
constexpr uint8_t kCauseFacilityRejected = 29;

iax2::DateTime UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}

}  // namespace

void EchoV2::HandleRegistrationOpening(const iax2::FullHeader& header, const iax2::Ies& ies,
                                       const sockaddr_in& from, bool releasing)
{
    if (!ies.username || ies.username->empty())
        return;
    Call& dialog = StartCall(header, from, DialogKind::Registration);
    dialog.user = *ies.username;
    dialog.releasing = releasing;
    dialog.refreshAskedSeconds = ies.refresh.value_or(kDefaultRefreshSeconds);
    dialog.answerAt = Clock::now() + kDialogMemory;
    if (m_options.password.empty())
        return releasing ? CompleteRelease(dialog) : CompleteRegistration(dialog);
    dialog.challenge = RandomHex(8);
    const Bytes challenge = iax2::IeWriter()
                                .Text(iax2::kIeUsername, dialog.user)
                                .U16(iax2::kIeAuthMethods, iax2::kAuthMd5)
                                .Text(iax2::kIeChallenge, dialog.challenge)
                                .bytes();
    SendFull(dialog, iax2::kTypeCommand, iax2::kRegAuth, challenge);
}

// The request again, now with the answer to our challenge.
void EchoV2::HandleRegistrationAnswer(Call& dialog, const iax2::Ies& ies)
{
    if (dialog.finished || dialog.challenge.empty())
        return;
    if (!ies.md5Result || *ies.md5Result != Md5Hex(dialog.challenge, m_options.password))
        return RefuseRegistration(dialog, "Authentication failed", kCauseFacilityRejected);
    if (dialog.releasing)
        CompleteRelease(dialog);
    else
        CompleteRegistration(dialog);
}

void EchoV2::CompleteRegistration(Call& dialog)
{
    const auto now = Clock::now();
    auto found = m_registrations.find(dialog.user);
    if (found == m_registrations.end() && m_registrations.size() >= kMaxRegistrations)
        return RefuseRegistration(dialog, "Too many registrations", iax2::kCauseNoCircuit);
    const int granted =
        std::clamp(dialog.refreshAskedSeconds, kMinRefreshSeconds, kMaxRefreshSeconds);
    Registration& registration = m_registrations[dialog.user];
    // A refresh from where the user already is changes nothing worth saying.
    const bool changed = found == m_registrations.end() || registration.expires <= now ||
                         !SameAddress(registration.address, dialog.address);
    registration.address = dialog.address;
    registration.expires = now + std::chrono::seconds(granted);
    if (changed) {
        m_options.say("registered " + dialog.user + " at " + Describe(dialog.address));
        registration.ringPending = m_options.ringRegisteredMs >= 0;
        registration.ringAt = now + std::chrono::milliseconds(m_options.ringRegisteredMs);
    }
    SendRegAck(dialog, granted);
}

void EchoV2::CompleteRelease(Call& dialog)
{
    const auto found = m_registrations.find(dialog.user);
    // Without a password only the registered address can speak for the user.
    if (found != m_registrations.end() && m_options.password.empty() &&
        !SameAddress(found->second.address, dialog.address))
        return RefuseRegistration(dialog, "Registered elsewhere", kCauseFacilityRejected);
    if (found != m_registrations.end()) {
        m_registrations.erase(found);
        m_options.say("released " + dialog.user);
    }
    SendRegAck(dialog, 0);
}

void EchoV2::RefuseRegistration(Call& dialog, const std::string& cause, uint8_t causeCode)
{
    dialog.finished = true;
    dialog.challenge.clear();
    m_options.say((dialog.releasing ? "release refused for " : "registration refused for ") +
                  dialog.user);
    const Bytes reason =
        iax2::IeWriter().Text(iax2::kIeCause, cause).U8(iax2::kIeCauseCode, causeCode).bytes();
    SendFull(dialog, iax2::kTypeCommand, iax2::kRegRej, reason);
}

// grantedSeconds 0: a release, which grants nothing.
void EchoV2::SendRegAck(Call& dialog, int grantedSeconds)
{
    dialog.finished = true;
    dialog.challenge.clear();
    const iax2::Ipv4Address apparent{ntohl(dialog.address.sin_addr.s_addr),
                                     ntohs(dialog.address.sin_port)};
    iax2::IeWriter ies;
    ies.Text(iax2::kIeUsername, dialog.user)
        .Date(iax2::kIeDateTime, UtcNow())
        .Address(iax2::kIeApparentAddr, apparent);
    if (grantedSeconds > 0)
        ies.U16(iax2::kIeRefresh, static_cast<uint16_t>(grantedSeconds));
    SendFull(dialog, iax2::kTypeCommand, iax2::kRegAck, ies.bytes());
}

// Forgets registrations that were not refreshed in time, and exchanges
// finished (or abandoned half-way) long enough ago.
void EchoV2::ExpireRegistrations(Clock::time_point now)
{
    std::erase_if(m_calls, [now](const auto& entry) {
        return entry.second.kind == DialogKind::Registration && entry.second.answerAt <= now;
    });
    for (auto it = m_registrations.begin(); it != m_registrations.end();) {
        if (it->second.expires > now) {
            ++it;
            continue;
        }
        m_options.say("registration of " + it->first + " expired");
        it = m_registrations.erase(it);
    }
}

}  // namespace echo2
