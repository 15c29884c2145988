// Layer: endpoint (the top). Voice both ways and touch tones: a full voice
// frame first, on a codec change, after a hold and at every 0x8000 ms of
// the call clock, minis otherwise; received voice goes through the call's
// jitter buffer.
#include <cstring>

#include "iax2/endpoint.h"

namespace iax2 {

namespace {

constexpr size_t kMaxVoiceBytes = 1024;

// Samples a payload of whole codec frames decodes to; 0 when it is not
// made of whole frames of a codec we carry.
int SamplesIn(uint32_t format, size_t bytes)
{
    if (bytes == 0)
        return 0;
    if (format == kFormatUlaw || format == kFormatAlaw)
        return int(bytes);
    if (format == kFormatGsm && bytes % 33 == 0)
        return int(bytes / 33 * kSamplesPer20Ms);
    return 0;
}

}  // namespace

int Endpoint::SendVoice(int call, uint32_t format, ByteView payload, int samples)
{
    Session* session = FindCall(call);
    if (!session || session->state != SessionState::Up)
        return Fail("no answered call: " + std::to_string(call));
    if (payload.empty() || SamplesIn(format, payload.size()) != samples ||
        payload.size() > kMaxVoiceBytes)
        return Fail("voice payload is not " + std::to_string(samples) + " samples of that codec");
    if (session->quelched)
        return 0;  // the far end asked for silence
    Transport& t = session->transport;
    // Minis draw from the same rising stamps as full frames, so that no
    // frame of the call, of either kind, goes back in time.
    const uint32_t stamp = t.NextFullStamp(Now());
    const bool first = session->sentVoiceFormat == 0;
    const bool crossed = (stamp >> 15) != (session->lastVoiceStamp >> 15);
    if (first || crossed || session->sentVoiceFormat != format) {
        Bytes frame;
        if (!t.BuildEcho(kTypeVoice, format, stamp, payload, Now(), &frame))
            return Fail("the far end acknowledges nothing: too many frames wait to be resent");
        SendRaw(frame, t.peer);
        session->sentVoiceFormat = format;
    } else {
        Bytes frame;
        AppendMini(MiniHeader{t.localCall, uint16_t(stamp)}, payload, &frame);
        SendRaw(frame, t.peer);
    }
    session->lastVoiceStamp = stamp;
    return 0;
}

int Endpoint::SendDtmf(int call, char digit)
{
    Session* session = FindCall(call);
    const char upper = char(toupper(static_cast<unsigned char>(digit)));
    if (!session || session->state == SessionState::Opening)
        return Fail("no call in progress: " + std::to_string(call));
    if (upper == 0 || !strchr("0123456789ABCD*#", upper))
        return Fail(std::string("not a touch-tone digit: ") + digit);
    return Send(session, kTypeDtmf, uint8_t(upper)) ? 0 : -1;
}

void Endpoint::HandleVoice(Session* session, const FullHeader& header, ByteView data)
{
    SendAck(session, header);
    session->heardFormat = header.subclass;
    if (!session->heardFull || int32_t(header.timestamp - session->lastHeardStamp) > 0)
        session->lastHeardStamp = header.timestamp;
    session->heardFull = true;
    AcceptVoice(session, header.timestamp, data);
}

void Endpoint::HandleMini(ByteView datagram, Peer from)
{
    MiniHeader header;
    ByteView payload;
    if (ParseMini(datagram, &header, &payload) != 0)
        return;
    Session* session = FindByRemote(from, header.source);
    if (!session || session->kind == SessionKind::Registration ||
        session->state == SessionState::Closing || session->state == SessionState::Opening)
        return;
    if (!session->heardFull) {
        // Its codec is unknown: ask again for the full frame that names it.
        Bytes vnak;
        Transport& t = session->transport;
        if (t.BuildEcho(kTypeCommand, kVnak, t.NextFullStamp(Now()), {}, Now(), &vnak))
            SendRaw(vnak, t.peer);
        return;
    }
    // The upper half comes from the newest stamp heard (at least the last
    // full frame's), so that a wrap whose resynchronising full frame is late
    // or lost still counts forward, and a frame from before it backward.
    const uint32_t newest = session->lastHeardStamp;
    uint32_t stamp = (newest & 0xFFFF0000u) | header.timestamp;
    if (int32_t(stamp - newest) < -0x8000)
        stamp += 0x10000;
    else if (int32_t(stamp - newest) > 0x8000)
        stamp -= 0x10000;
    AcceptVoice(session, stamp, payload);
}

void Endpoint::AcceptVoice(Session* session, uint32_t stamp, ByteView payload)
{
    const bool inCall =
        session->state == SessionState::Linked || session->state == SessionState::Up;
    if (!inCall || SamplesIn(session->heardFormat, payload.size()) == 0)
        return;
    if (int32_t(stamp - session->lastHeardStamp) > 0)
        session->lastHeardStamp = stamp;
    const uint32_t spanMs = uint32_t(SamplesIn(session->heardFormat, payload.size()) / 8);
    VoiceFrame frame{stamp, session->heardFormat, Bytes(payload.begin(), payload.end()), spanMs};
    session->jitter.Put(std::move(frame), Now());
    DrainJitter(session, Now());
}

void Endpoint::DrainJitter(Session* session, uint64_t now)
{
    VoiceFrame frame;
    while (session->jitter.Pop(now, &frame)) {
        Event event;
        event.type = EventType::Voice;
        event.call = session->transport.localCall;
        event.format = frame.format;
        event.samples = SamplesIn(frame.format, frame.payload.size());
        event.timestamp = frame.timestamp;
        event.payload = std::move(frame.payload);
        Emit(std::move(event));
    }
}

}  // namespace iax2
