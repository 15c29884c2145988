// The echo service calling its registered users: one NEW to where each
// registered, then the callee's ACCEPT, RINGING and ANSWER (or its refusal);
// once answered the call echoes like any other.
#include "tools/echo_v2.h"

namespace echo2 {
namespace {

// A phone left ringing is let go; a callee that vanished is forgotten.
constexpr auto kRingGiveUp = std::chrono::seconds(60);

}  // namespace

void EchoV2::RingDue(Clock::time_point now)
{
    for (auto& [user, registration] : m_registrations) {
        if (!registration.ringPending || registration.ringAt > now)
            continue;
        registration.ringPending = false;
        Ring(user, registration);
    }
}

void EchoV2::Ring(const std::string& user, const Registration& registration)
{
    if (m_calls.size() >= kMaxDialogs)
        return;
    const uint16_t number = TakeCallNumber();
    Call& call = m_calls[number];
    call.kind = DialogKind::Outgoing;
    call.address = registration.address;
    call.ownCall = number;
    call.user = user;
    call.answerAt = Clock::now() + kRingGiveUp;
    const Bytes ies = iax2::IeWriter()
                          .U16(iax2::kIeVersion, iax2::kProtocolVersion)
                          .Text(iax2::kIeCalledNumber, user)
                          .Text(iax2::kIeCallingNumber, "600")
                          .Text(iax2::kIeCallingName, "Echo")
                          .U8(iax2::kIeCallingPres, 0)
                          .U8(iax2::kIeCallingTon, 0)
                          .U16(iax2::kIeCallingTns, 0)
                          .U32(iax2::kIeCapability, kFormatsWeEcho)
                          .U32(iax2::kIeFormat, iax2::kFormatUlaw)
                          .bytes();
    SendFull(call, iax2::kTypeCommand, iax2::kNew, ies);
}

bool EchoV2::HandleOutgoingCommand(Call& call, const iax2::FullHeader& header, const iax2::Ies& ies)
{
    const uint32_t format = ies.format.value_or(0);
    switch (header.subclass) {
    case iax2::kAccept:
        if (call.accepted)
            return true;  // a second ACCEPT changes nothing
        if (!(format & kFormatsWeEcho) || (format & (format - 1))) {
            // Not one of the codecs we offered: nothing to talk in.
            const Bytes reason = iax2::IeWriter()
                                     .Text(iax2::kIeCause, "Bearer capability not available")
                                     .U8(iax2::kIeCauseCode, iax2::kCauseBearerNotAvailable)
                                     .bytes();
            SendFull(call, iax2::kTypeCommand, iax2::kHangup, reason);
            m_calls.erase(call.ownCall);
            return true;
        }
        call.accepted = true;
        call.format = format;
        return true;
    case iax2::kHangup:
    case iax2::kReject:
        if (call.answered)
            return false;  // an ordinary end of an echo call
        m_options.say("declined by " + call.user +
                      (ies.causeCode ? " (cause " + std::to_string(*ies.causeCode) + ")" : ""));
        m_calls.erase(call.ownCall);
        return true;
    default: return false;
    }
}

void EchoV2::HandleOutgoingControl(Call& call, const iax2::FullHeader& header)
{
    switch (header.subclass) {
    case iax2::kCtrlRinging: m_options.say("ringing " + call.user); return;
    case iax2::kCtrlAnswer:
        if (call.answered)
            return;
        call.answered = true;
        m_options.say("answered by " + call.user);
        return;
    case iax2::kCtrlBusy: {
        m_options.say("declined by " + call.user + " (cause 17)");
        const Bytes reason = iax2::IeWriter()
                                 .Text(iax2::kIeCause, "User busy")
                                 .U8(iax2::kIeCauseCode, iax2::kCauseUserBusy)
                                 .bytes();
        SendFull(call, iax2::kTypeCommand, iax2::kHangup, reason);
        m_calls.erase(call.ownCall);
        return;
    }
    default: return;
    }
}

void EchoV2::GiveUpRinging(Clock::time_point now)
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        Call& call = it->second;
        if (call.kind != DialogKind::Outgoing || call.answered || call.ended ||
            call.answerAt > now) {
            ++it;
            continue;
        }
        m_options.say("no answer from " + call.user);
        const Bytes reason = iax2::IeWriter()
                                 .Text(iax2::kIeCause, "No answer")
                                 .U8(iax2::kIeCauseCode, iax2::kCauseNoAnswer)
                                 .bytes();
        SendFull(call, iax2::kTypeCommand, iax2::kHangup, reason);
        it = m_calls.erase(it);
    }
}

}  // namespace echo2
