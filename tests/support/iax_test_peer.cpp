#include "tests/support/iax_test_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace iaxpeer {

namespace {

constexpr size_t kMaxDatagramBytes = 65536;

uint32_t MonotonicMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Messages whose sequence field is 0 and does not use up a number.
bool TakesNoSequence(uint8_t type, uint32_t subclass)
{
    return type == kIax &&
           (subclass == kPong || subclass == kTxCnt || subclass == kTxAcc || subclass == kAck);
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

IaxTestPeer::IaxTestPeer() : m_clock(MonotonicMs)
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    int bufferBytes = 4 << 20;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(a.sin_port);
    StartCall();
}

IaxTestPeer::~IaxTestPeer()
{
    if (m_fd >= 0)
        close(m_fd);
}

void IaxTestPeer::SetTarget(uint16_t port)
{
    m_target = Loopback(port);
    m_targetSet = true;
}

uint16_t IaxTestPeer::TargetPort() const
{
    return m_targetSet ? ntohs(m_target.sin_port) : 0;
}

void IaxTestPeer::StartCall(uint16_t ownCall)
{
    m_call = PeerCall{};
    m_call.ownCall = ownCall ? ownCall : static_cast<uint16_t>(1000 + ++m_callCounter);
}

uint32_t IaxTestPeer::CallTimestamp()
{
    uint32_t now = m_clock();
    if (!m_call.timeBaseSet) {
        m_call.timeBaseSet = true;
        m_call.timeBaseMs = now;
    }
    return now - m_call.timeBaseMs;
}

uint32_t IaxTestPeer::Now()
{
    return CallTimestamp();
}

FullHeader IaxTestPeer::SendFull(uint8_t type, uint32_t subclass, const Bytes& payload,
                                 const SendOptions& options)
{
    FullHeader h;
    h.sourceCall = options.sourceCall.value_or(m_call.ownCall);
    h.destCall = options.destCall.value_or(m_call.remoteCall);
    h.timestampMs = options.timestampMs ? *options.timestampMs : CallTimestamp();
    m_call.lastTimestampMs = h.timestampMs;
    if (options.sequence) {
        h.sequence = *options.sequence;
    } else if (!TakesNoSequence(type, subclass)) {
        h.sequence = m_call.outSeq++;
    }
    h.type = type;
    h.subclassByte = options.subclassByte.value_or(CompressSubclass(subclass));
    SendTo(BuildFull(h, payload));
    return h;
}

FullHeader IaxTestPeer::SendIax(uint32_t message, const std::string& text, bool withNul,
                                const SendOptions& options)
{
    Bytes payload = text.empty() && !withNul ? Bytes{} : ToBytes(text, withNul);
    return SendFull(kIax, message, payload, options);
}

FullHeader IaxTestPeer::SendControl(uint32_t control)
{
    return SendFull(kControl, control);
}

FullHeader IaxTestPeer::SendVoice(uint32_t format, const Bytes& data, const SendOptions& options)
{
    return SendFull(kVoice, format, data, options);
}

void IaxTestPeer::SendMini(const Bytes& data, std::optional<uint32_t> timestampMs)
{
    uint32_t ts = timestampMs ? *timestampMs : CallTimestamp();
    m_call.lastTimestampMs = ts;
    SendTo(BuildMini(m_call.ownCall, static_cast<uint16_t>(ts), data));
}

void IaxTestPeer::SendAck(const PeerFrame& frame)
{
    FullHeader h;
    h.sourceCall = m_call.ownCall;
    h.destCall = frame.sourceCall;
    h.timestampMs = frame.timestampMs;
    h.sequence = frame.sequence;
    h.type = kIax;
    h.subclassByte = kAck;
    SendTo(BuildFull(h));
}

void IaxTestPeer::SendRaw(const Bytes& datagram)
{
    SendTo(datagram);
}

void IaxTestPeer::SendTo(const Bytes& datagram)
{
    const sockaddr_in& to = m_targetSet ? m_target : m_lastSender;
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

bool IaxTestPeer::ReadOne(int timeoutMs)
{
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    static thread_local uint8_t buffer[kMaxDatagramBytes];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n =
        recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0)
        return false;
    m_lastSender = from;
    if (!m_targetSet)
        SetTarget(ntohs(from.sin_port));
    auto frame = ParseDatagram(buffer, static_cast<size_t>(n));
    if (!frame) {
        Fail("short datagram of " + std::to_string(n) + " bytes received");
        return true;
    }
    Account(*frame);
    return true;
}

void IaxTestPeer::Account(const PeerFrame& frame)
{
    if (frame.full && m_call.remoteCall == kUnknownCall)
        m_call.remoteCall = frame.sourceCall;
    if (m_autoAck && NeedsAck(frame))
        SendAck(frame);
    if (frame.Is(kIax, kAck))
        m_acks.push_back(frame);
    else
        m_pending.push_back(frame);
}

std::optional<PeerFrame> IaxTestPeer::Receive(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pending.empty()) {
        if (!ReadOne(RemainingMs(deadline)) && RemainingMs(deadline) == 0) {
            Fail("no frame within " + std::to_string(timeoutMs) + " ms");
            return std::nullopt;
        }
    }
    PeerFrame f = m_pending.front();
    m_pending.pop_front();
    return f;
}

std::optional<PeerFrame> IaxTestPeer::ExpectFull(uint8_t type, uint32_t subclass, int timeoutMs)
{
    if (type == kIax && subclass == kAck) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (!m_acks.empty()) {
                PeerFrame f = m_acks.front();
                m_acks.erase(m_acks.begin());
                return f;
            }
            if (!ReadOne(RemainingMs(deadline)) && RemainingMs(deadline) == 0)
                break;
        }
        Fail("no ACK");
        return std::nullopt;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    while (true) {
        for (; checked < m_pending.size(); ++checked) {
            if (m_pending[checked].Is(type, subclass)) {
                PeerFrame f = m_pending[checked];
                m_pending.erase(m_pending.begin() + static_cast<long>(checked));
                return f;
            }
        }
        if (!ReadOne(RemainingMs(deadline)) && RemainingMs(deadline) == 0)
            break;
    }
    Fail("expected full frame type " + std::to_string(type) + " subclass " +
         std::to_string(subclass) +
         (type == kIax ? std::string(" (") + IaxMessageName(subclass) + ")" : ""));
    return std::nullopt;
}

std::optional<PeerFrame> IaxTestPeer::ExpectVoice(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    while (true) {
        for (; checked < m_pending.size(); ++checked) {
            const PeerFrame& c = m_pending[checked];
            if (!c.full || c.type == kVoice) {
                PeerFrame f = c;
                m_pending.erase(m_pending.begin() + static_cast<long>(checked));
                return f;
            }
        }
        if (!ReadOne(RemainingMs(deadline)) && RemainingMs(deadline) == 0)
            break;
    }
    Fail("expected a voice frame");
    return std::nullopt;
}

std::optional<PeerFrame> IaxTestPeer::ExpectAckOf(const FullHeader& sent, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t checked = 0;
    while (true) {
        for (; checked < m_acks.size(); ++checked) {
            const PeerFrame& a = m_acks[checked];
            if (a.sequence == sent.sequence && a.timestampMs == sent.timestampMs)
                return a;
        }
        if (!ReadOne(RemainingMs(deadline)) && RemainingMs(deadline) == 0)
            break;
    }
    Fail("no ACK of seq " + std::to_string(sent.sequence) + " ts " +
         std::to_string(sent.timestampMs));
    return std::nullopt;
}

bool IaxTestPeer::ExpectSilence(int waitMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (ReadOne(RemainingMs(deadline)) || RemainingMs(deadline) > 0) {
    }
    if (m_pending.empty())
        return true;
    Fail("expected silence");
    return false;
}

void IaxTestPeer::Drain()
{
    while (ReadOne(0)) {
    }
}

void IaxTestPeer::Fail(const std::string& what)
{
    m_lastError = what + "; queued:";
    if (m_pending.empty())
        m_lastError += " none";
    for (const PeerFrame& f : m_pending)
        m_lastError += "\n  " + f.Describe();
}

}  // namespace iaxpeer
