#include "tests/iax2/scripted_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace peer2 {

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

std::optional<Frame> Decode(const uint8_t* bytes, size_t length)
{
    Frame frame;
    if (length < 4)
        return std::nullopt;
    frame.full = bytes[0] & 0x80;
    frame.source = uint16_t((bytes[0] & 0x7F) << 8 | bytes[1]);
    if (!frame.full) {
        frame.timestamp = uint32_t(bytes[2] << 8 | bytes[3]);
        frame.data.assign(bytes + 4, bytes + length);
        return frame;
    }
    if (length < 12)
        return std::nullopt;
    frame.retransmitted = bytes[2] & 0x80;
    frame.destination = uint16_t((bytes[2] & 0x7F) << 8 | bytes[3]);
    frame.timestamp =
        uint32_t(bytes[4]) << 24 | uint32_t(bytes[5]) << 16 | uint32_t(bytes[6]) << 8 | bytes[7];
    frame.oseqno = bytes[8];
    frame.iseqno = bytes[9];
    frame.type = bytes[10];
    frame.subclass = bytes[11];
    frame.data.assign(bytes + 12, bytes + length);
    for (size_t at = 0; frame.type == 6 && at + 2 <= frame.data.size();) {
        const size_t size = frame.data[at + 1];
        const auto begin = frame.data.begin() + long(at) + 2;
        frame.ies.emplace_back(frame.data[at], Bytes(begin, begin + long(size)));
        at += 2 + size;
    }
    return frame;
}

}  // namespace

const Bytes* Frame::Ie(uint8_t id) const
{
    for (const auto& [key, value] : ies)
        if (key == id)
            return &value;
    return nullptr;
}

std::string Frame::Text(uint8_t id) const
{
    const Bytes* value = Ie(id);
    return value ? std::string(value->begin(), value->end()) : std::string("<absent>");
}

uint32_t Frame::Number(uint8_t id) const
{
    uint32_t number = 0;
    if (const Bytes* value = Ie(id))
        for (uint8_t octet : *value)
            number = number << 8 | octet;
    return number;
}

Bytes Ie(uint8_t id, const std::string& text)
{
    Bytes bytes;
    bytes.reserve(2 + text.size());
    bytes.push_back(id);
    bytes.push_back(uint8_t(text.size()));
    for (char c : text)
        bytes.push_back(uint8_t(c));
    return bytes;
}

Bytes IeNumber(uint8_t id, uint32_t value, int octets)
{
    Bytes bytes;
    bytes.push_back(id);
    bytes.push_back(uint8_t(octets));
    for (int i = octets - 1; i >= 0; --i)
        bytes.push_back(uint8_t(value >> (8 * i)));
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

ScriptedPeer::ScriptedPeer()
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address = Loopback(0);
    bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
}

ScriptedPeer::~ScriptedPeer()
{
    close(m_fd);
}

void ScriptedPeer::SendRaw(iax2::Endpoint& endpoint, const Bytes& datagram)
{
    const sockaddr_in to = Loopback(uint16_t(endpoint.port()));
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

void ScriptedPeer::Send(iax2::Endpoint& endpoint, uint8_t type, uint8_t subclass, const Bytes& data)
{
    clockMs += 3;
    Bytes frame{uint8_t(0x80 | ours >> 8),
                uint8_t(ours),
                uint8_t(theirs >> 8),
                uint8_t(theirs),
                uint8_t(clockMs >> 24),
                uint8_t(clockMs >> 16),
                uint8_t(clockMs >> 8),
                uint8_t(clockMs),
                oseqno,
                iseqno,
                type,
                subclass};
    frame.insert(frame.end(), data.begin(), data.end());
    const bool neutral = type == 6 && (subclass == 4 || subclass == 0x0A || subclass == 0x12);
    if (!neutral)
        ++oseqno;
    SendRaw(endpoint, frame);
}

void ScriptedPeer::Ack(iax2::Endpoint& endpoint, const Frame& frame)
{
    Bytes ack{uint8_t(0x80 | ours >> 8),
              uint8_t(ours),
              uint8_t(frame.source >> 8),
              uint8_t(frame.source),
              uint8_t(frame.timestamp >> 24),
              uint8_t(frame.timestamp >> 16),
              uint8_t(frame.timestamp >> 8),
              uint8_t(frame.timestamp),
              oseqno,
              iseqno,
              6,
              4};
    SendRaw(endpoint, ack);
}

void ScriptedPeer::SendMini(iax2::Endpoint& endpoint, uint16_t stamp, const Bytes& payload)
{
    Bytes frame{uint8_t(ours >> 8), uint8_t(ours), uint8_t(stamp >> 8), uint8_t(stamp)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    SendRaw(endpoint, frame);
}

void ScriptedPeer::Pump(iax2::Endpoint& endpoint, int timeoutMs)
{
    const int due = endpoint.NextDueMs();
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {endpoint.handle(), POLLIN, 0}};
    poll(fds, 2, due < 0 ? timeoutMs : std::min(due, timeoutMs));
    endpoint.Service();
    uint8_t buffer[65536];
    for (ssize_t got; (got = recv(m_fd, buffer, sizeof buffer, 0)) >= 0;)
        if (auto frame = Decode(buffer, size_t(got)))
            m_inbox.push_back(*frame);
    for (iax2::Event event; endpoint.NextEvent(&event);)
        events.push_back(event);
}

void ScriptedPeer::Count(const Frame& frame)
{
    const bool neutral = frame.type == 6 &&
                         (frame.subclass == 4 || frame.subclass == 0x0A || frame.subclass == 0x12);
    if (frame.full && !neutral && frame.oseqno == iseqno)
        ++iseqno;
}

std::optional<Frame> ScriptedPeer::Expect(iax2::Endpoint& endpoint,
                                          const std::function<bool(const Frame&)>& want,
                                          int timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        while (!m_inbox.empty()) {
            Frame frame = m_inbox.front();
            m_inbox.pop_front();
            Count(frame);
            if (want(frame))
                return frame;
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0)
            return std::nullopt;
        Pump(endpoint, int(std::min<int64_t>(left, 50)));
    }
}

std::optional<Frame> ScriptedPeer::ExpectCommand(iax2::Endpoint& endpoint, uint8_t subclass,
                                                 int timeoutMs)
{
    return Expect(
        endpoint, [&](const Frame& f) { return f.IsCommand(subclass); }, timeoutMs);
}

bool ScriptedPeer::Quiet(iax2::Endpoint& endpoint, int waitMs)
{
    return !Expect(
        endpoint, [](const Frame& f) { return !f.IsCommand(4); }, waitMs);
}

std::optional<iax2::Event> ScriptedPeer::ExpectEvent(iax2::Endpoint& endpoint, iax2::EventType type,
                                                     int timeoutMs)
{
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        for (; m_eventsTaken < events.size(); ++m_eventsTaken)
            if (events[m_eventsTaken].type == type)
                return events[m_eventsTaken++];
        const int64_t left = deadline - NowMs();
        if (left <= 0)
            return std::nullopt;
        Pump(endpoint, int(std::min<int64_t>(left, 50)));
    }
}

}  // namespace peer2
