// A tiny IAX server for trying the phone by hand and for measurements: it
// answers every NEW with ACCEPT and RINGING, then ANSWER after a short delay,
// and sends every voice frame straight back (full frames as full frames,
// mini frames as mini frames). It prints what it does, one line per step.
//
//   velnar_echo_peer [--port N] [--host ADDR] [--answer-delay-ms N] [--quiet]
//
// --port 0 takes an ephemeral port; the first line printed names the port
// ("listening on 127.0.0.1:PORT"). It acknowledges what it receives but
// never retransmits: it is meant for loopback and quiet networks.
#include "tests/support/peer_frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

using namespace iaxpeer;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int port = 5037;
    int answerDelayMs = 300;
    bool quiet = false;
};

struct EchoCall {
    sockaddr_in address{};
    uint16_t ownCall = 0;
    uint16_t remoteCall = 0;
    uint16_t outSeq = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point answerAt;
    bool answered = false;
    unsigned long voiceEchoed = 0;
};

class EchoPeer {
public:
    EchoPeer(int fd, const Options& options) : m_fd(fd), m_options(options) {}
    void Run();

private:
    void HandleDatagram(const uint8_t* bytes, size_t length, const sockaddr_in& from);
    void HandleFull(const PeerFrame& frame, const sockaddr_in& from);
    void HandleIax(EchoCall& call, const PeerFrame& frame);
    void HandleMini(const PeerFrame& frame, const sockaddr_in& from);
    void StartCall(const PeerFrame& frame, const sockaddr_in& from);
    void AnswerDueCalls();
    int MsUntilNextAnswer() const;
    EchoCall* Find(const sockaddr_in& from, uint16_t ownCall);
    EchoCall* FindByRemote(const sockaddr_in& from, uint16_t remoteCall);
    void SendFull(EchoCall& call, uint8_t type, uint32_t subclass, const Bytes& payload = {},
                  bool takesSequence = true, uint32_t timestamp = UINT32_MAX);
    void SendAck(const PeerFrame& frame, const sockaddr_in& to, uint16_t ownCall);
    void Send(const Bytes& datagram, const sockaddr_in& to);
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
    static uint32_t CallMs(const EchoCall& call);
    static std::string Describe(const sockaddr_in& address);

    int m_fd;
    Options m_options;
    std::map<uint16_t, EchoCall> m_calls;  // by own call number
    uint16_t m_nextCall = 1;
};

uint32_t EchoPeer::CallMs(const EchoCall& call) {
    auto elapsed = Clock::now() - call.start;
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

std::string EchoPeer::Describe(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

void EchoPeer::Say(const char* format, ...) {
    if (m_options.quiet)
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void EchoPeer::Run() {
    uint8_t buffer[65536];
    for (;;) {
        pollfd readable{m_fd, POLLIN, 0};
        int ready = poll(&readable, 1, MsUntilNextAnswer());
        if (ready < 0)
            return;
        if (ready > 0) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n > 0)
                HandleDatagram(buffer, static_cast<size_t>(n), from);
        }
        AnswerDueCalls();
    }
}

void EchoPeer::HandleDatagram(const uint8_t* bytes, size_t length, const sockaddr_in& from) {
    auto frame = ParseDatagram(bytes, length);
    if (!frame) {
        Say("ignored a datagram of %zu bytes from %s\n", length, Describe(from).c_str());
        return;
    }
    if (frame->full)
        HandleFull(*frame, from);
    else
        HandleMini(*frame, from);
}

void EchoPeer::HandleFull(const PeerFrame& frame, const sockaddr_in& from) {
    if (frame.Is(kIax, kNew) && frame.destCall == kUnknownCall) {
        StartCall(frame, from);
        return;
    }
    EchoCall* call = Find(from, frame.destCall);
    if (!call) {
        Say("frame for no call from %s: %s\n", Describe(from).c_str(), frame.Describe().c_str());
        return;
    }
    bool needsAck = frame.type != kIax || (frame.subclass != kAck && frame.subclass != kInval &&
                                           frame.subclass != kReject);
    if (needsAck)
        SendAck(frame, from, call->ownCall);
    if (frame.type == kVoice) {
        SendFull(*call, kVoice, frame.subclass, frame.payload);
        ++call->voiceEchoed;
    } else if (frame.type == kDtmf) {
        Say("call %u: touch tone '%c'\n", call->ownCall, static_cast<char>(frame.subclass));
    } else if (frame.type == kIax) {
        HandleIax(*call, frame);
    } else {
        Say("call %u: %s\n", call->ownCall, frame.Describe().c_str());
    }
}

void EchoPeer::HandleIax(EchoCall& call, const PeerFrame& frame) {
    switch (frame.subclass) {
    case kAck:
        return;
    case kPing:
        SendFull(call, kIax, kPong, {}, false, frame.timestampMs);
        return;
    case kLagRq:
        SendFull(call, kIax, kLagRp, {}, true, frame.timestampMs);
        return;
    case kHangup:
    case kReject:
        Say("call %u: %s, %lu voice frames echoed\n", call.ownCall,
            IaxMessageName(frame.subclass), call.voiceEchoed);
        m_calls.erase(call.ownCall);
        return;
    default:
        Say("call %u: %s\n", call.ownCall, frame.Describe().c_str());
    }
}

void EchoPeer::HandleMini(const PeerFrame& frame, const sockaddr_in& from) {
    EchoCall* call = FindByRemote(from, frame.sourceCall);
    if (!call)
        return;
    Send(BuildMini(call->ownCall, static_cast<uint16_t>(CallMs(*call)), frame.payload), from);
    ++call->voiceEchoed;
}

void EchoPeer::StartCall(const PeerFrame& frame, const sockaddr_in& from) {
    if (FindByRemote(from, frame.sourceCall))
        return;  // a retransmitted NEW of a call already taken
    EchoCall call;
    call.address = from;
    call.ownCall = m_nextCall++;
    if (m_nextCall >= 0x7FFF)
        m_nextCall = 1;
    call.remoteCall = frame.sourceCall;
    call.answerAt = Clock::now() + std::chrono::milliseconds(m_options.answerDelayMs);
    EchoCall& stored = m_calls[call.ownCall] = call;
    Say("call %u: NEW from %s (%s)\n", stored.ownCall, Describe(from).c_str(),
        frame.Text().c_str());
    SendAck(frame, from, stored.ownCall);
    SendFull(stored, kIax, kAccept, ToBytes("formats=2;", true));
    SendFull(stored, kControl, kRinging);
    Say("call %u: sent ACCEPT and RINGING\n", stored.ownCall);
}

void EchoPeer::AnswerDueCalls() {
    auto now = Clock::now();
    for (auto& [number, call] : m_calls) {
        if (call.answered || call.answerAt > now)
            continue;
        call.answered = true;
        SendFull(call, kControl, kAnswer);
        Say("call %u: sent ANSWER, echoing voice\n", number);
    }
}

int EchoPeer::MsUntilNextAnswer() const {
    int wait = -1;
    auto now = Clock::now();
    for (const auto& [number, call] : m_calls) {
        if (call.answered)
            continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(call.answerAt - now);
        int ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
        if (wait < 0 || ms < wait)
            wait = ms;
    }
    return wait;
}

EchoCall* EchoPeer::Find(const sockaddr_in& from, uint16_t ownCall) {
    auto it = m_calls.find(ownCall);
    if (it == m_calls.end() || it->second.address.sin_port != from.sin_port ||
        it->second.address.sin_addr.s_addr != from.sin_addr.s_addr)
        return nullptr;
    return &it->second;
}

EchoCall* EchoPeer::FindByRemote(const sockaddr_in& from, uint16_t remoteCall) {
    for (auto& [number, call] : m_calls)
        if (call.remoteCall == remoteCall && call.address.sin_port == from.sin_port &&
            call.address.sin_addr.s_addr == from.sin_addr.s_addr)
            return &call;
    return nullptr;
}

void EchoPeer::SendFull(EchoCall& call, uint8_t type, uint32_t subclass, const Bytes& payload,
                        bool takesSequence, uint32_t timestamp) {
    FullHeader header;
    header.sourceCall = call.ownCall;
    header.destCall = call.remoteCall;
    header.timestampMs = timestamp == UINT32_MAX ? CallMs(call) : timestamp;
    header.sequence = takesSequence ? call.outSeq++ : 0;
    header.type = type;
    header.subclassByte = CompressSubclass(subclass);
    Send(BuildFull(header, payload), call.address);
}

void EchoPeer::SendAck(const PeerFrame& frame, const sockaddr_in& to, uint16_t ownCall) {
    FullHeader header;
    header.sourceCall = ownCall;
    header.destCall = frame.sourceCall;
    header.timestampMs = frame.timestampMs;
    header.sequence = frame.sequence;
    header.type = kIax;
    header.subclassByte = kAck;
    Send(BuildFull(header), to);
}

void EchoPeer::Send(const Bytes& datagram, const sockaddr_in& to) {
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--quiet")
            options.quiet = true;
        else if (arg == "--port" && hasValue)
            options.port = std::atoi(argv[++i]);
        else if (arg == "--host" && hasValue)
            options.host = argv[++i];
        else if (arg == "--answer-delay-ms" && hasValue)
            options.answerDelayMs = std::atoi(argv[++i]);
        else
            return false;
    }
    return options.port >= 0 && options.port <= 65535 && options.answerDelayMs >= 0;
}

int OpenSocket(const Options& options, uint16_t& boundPort) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.host.c_str(), &address.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--port N] [--host ADDR] [--answer-delay-ms N] [--quiet]\n",
                     argv[0]);
        return 2;
    }
    uint16_t port = 0;
    int fd = OpenSocket(options, port);
    if (fd < 0) {
        std::fprintf(stderr, "cannot bind %s:%d: %s\n", options.host.c_str(), options.port,
                     std::strerror(errno));
        return 1;
    }
    // Always printed, also with --quiet: programs that start the peer read it.
    std::printf("listening on %s:%u; dial %s:%u/100\n", options.host.c_str(), port,
                options.host.c_str(), port);
    std::fflush(stdout);
    EchoPeer(fd, options).Run();
    close(fd);
    return 0;
}
