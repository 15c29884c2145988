// A tiny IAX server for trying the phone by hand and for measurements: it
// answers every NEW with ACCEPT and RINGING, then ANSWER after a short delay,
// and sends every voice frame straight back (full frames as full frames,
// mini frames as mini frames). It prints what it does, one line per step.
// Version 1 is spoken on one port and version 2 on a second (tools/echo_v2).
//
//   velnar-echo [--port N] [--v2-port N] [--password S] [--host ADDR]
//               [--answer-delay-ms N] [--ring-registered[=SECONDS]] [--quiet]
//
// --port 0 takes an ephemeral port; the first line printed names the port
// ("listening on 127.0.0.1:PORT"), the second the version-2 port, which
// also takes registrations. The version-1 side acknowledges what it
// receives but never retransmits: it is meant for loopback and quiet
// networks; the version-2 side also resends on calls. Ctrl-C (or SIGTERM)
// ends it cleanly.
#include "tools/echo_v2.h"
#include "tools/peer/peer_frame.h"
#include "velnar_version.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using namespace iaxpeer;
using Clock = std::chrono::steady_clock;

namespace {

const char kHelp[] = R"(Usage: velnar-echo [OPTION]...
A tiny IAX server for trying the Velnar phone without an exchange: it answers
every call and sends the caller's own voice straight back.

      --host=ADDR            listen on this IPv4 address (default 127.0.0.1)
      --port=N               listen on UDP port N (default 5037; 0 takes a
                             free port)
      --v2-port=N            speak IAX version 2 on UDP port N (default 4570,
                             or a free port when --port is 0); 'off' leaves
                             version 2 out
      --password=SECRET      version 2: challenge every call and registration
                             (MD5) and take only this password (default: no
                             challenge)
      --ring-registered[=SECONDS]
                             version 2: call each user SECONDS (default 1)
                             after it registers, as number 600 "Echo", and
                             echo its voice once it answers
      --answer-delay-ms=N    answer N ms after the call arrives (default 300)
      --quiet                print only the first two lines, which name the
                             addresses to dial
      --help                 display this help and exit
      --version              output version information and exit

In the phone, give HOST:PORT as the server address and dial any number.
With version 2 the phone may also register here to receive calls.
Ctrl-C stops the server.
)";

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

constexpr int kV2Off = -2;
constexpr int kV2Default = -1;

struct Options {
    std::string host = "127.0.0.1";
    int port = 5037;
    int v2Port = kV2Default;
    std::string password;
    int answerDelayMs = 300;
    int ringRegisteredMs = -1;  // -1: registered users are not called
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
    // Serves both versions until Ctrl-C; v2 may be null.
    void Run(echo2::EchoV2* v2, int v2Fd);
    // A line of the version-2 side, printed like ours.
    void SayLine(const std::string& text) { Say("v2 %s\n", text.c_str()); }

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

uint32_t EchoPeer::CallMs(const EchoCall& call)
{
    auto elapsed = Clock::now() - call.start;
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

std::string EchoPeer::Describe(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

void EchoPeer::Say(const char* format, ...)
{
    if (m_options.quiet)
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void EchoPeer::Run(echo2::EchoV2* v2, int v2Fd)
{
    uint8_t buffer[65536];
    // The stop signals are let in only while waiting, so that one arriving
    // just before the wait cannot leave it sleeping until the next timer.
    sigset_t stopSignals, waiting;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    for (;;) {
        pollfd readable[2] = {{m_fd, POLLIN, 0}, {v2Fd, POLLIN, 0}};
        int wait = MsUntilNextAnswer();
        int v2Wait = v2 ? v2->MsUntilDue() : -1;
        if (v2Wait >= 0 && (wait < 0 || v2Wait < wait))
            wait = v2Wait;
        const timespec timeout{wait / 1000, (wait % 1000) * 1000000L};
        int ready = ppoll(readable, v2 ? 2 : 1, wait < 0 ? nullptr : &timeout, &waiting);
        if (stopRequested)
            return;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        if (ready > 0 && (readable[0].revents & POLLIN)) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                                 &fromLength);
            if (n > 0)
                HandleDatagram(buffer, static_cast<size_t>(n), from);
        }
        if (v2 && (readable[1].revents & POLLIN))
            v2->Receive();
        AnswerDueCalls();
        if (v2)
            v2->RunTimers();
    }
}

void EchoPeer::HandleDatagram(const uint8_t* bytes, size_t length, const sockaddr_in& from)
{
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

void EchoPeer::HandleFull(const PeerFrame& frame, const sockaddr_in& from)
{
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

void EchoPeer::HandleIax(EchoCall& call, const PeerFrame& frame)
{
    switch (frame.subclass) {
    case kAck: return;
    case kPing: SendFull(call, kIax, kPong, {}, false, frame.timestampMs); return;
    case kLagRq: SendFull(call, kIax, kLagRp, {}, true, frame.timestampMs); return;
    case kHangup:
    case kReject:
        Say("call %u: %s, %lu voice frames echoed\n", call.ownCall, IaxMessageName(frame.subclass),
            call.voiceEchoed);
        m_calls.erase(call.ownCall);
        return;
    default: Say("call %u: %s\n", call.ownCall, frame.Describe().c_str());
    }
}

void EchoPeer::HandleMini(const PeerFrame& frame, const sockaddr_in& from)
{
    EchoCall* call = FindByRemote(from, frame.sourceCall);
    if (!call)
        return;
    Send(BuildMini(call->ownCall, static_cast<uint16_t>(CallMs(*call)), frame.payload), from);
    ++call->voiceEchoed;
}

void EchoPeer::StartCall(const PeerFrame& frame, const sockaddr_in& from)
{
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

void EchoPeer::AnswerDueCalls()
{
    auto now = Clock::now();
    for (auto& [number, call] : m_calls) {
        if (call.answered || call.answerAt > now)
            continue;
        call.answered = true;
        SendFull(call, kControl, kAnswer);
        Say("call %u: sent ANSWER, echoing voice\n", number);
    }
}

int EchoPeer::MsUntilNextAnswer() const
{
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

EchoCall* EchoPeer::Find(const sockaddr_in& from, uint16_t ownCall)
{
    auto it = m_calls.find(ownCall);
    if (it == m_calls.end() || it->second.address.sin_port != from.sin_port ||
        it->second.address.sin_addr.s_addr != from.sin_addr.s_addr)
        return nullptr;
    return &it->second;
}

EchoCall* EchoPeer::FindByRemote(const sockaddr_in& from, uint16_t remoteCall)
{
    for (auto& [number, call] : m_calls)
        if (call.remoteCall == remoteCall && call.address.sin_port == from.sin_port &&
            call.address.sin_addr.s_addr == from.sin_addr.s_addr)
            return &call;
    return nullptr;
}

void EchoPeer::SendFull(EchoCall& call, uint8_t type, uint32_t subclass, const Bytes& payload,
                        bool takesSequence, uint32_t timestamp)
{
    FullHeader header;
    header.sourceCall = call.ownCall;
    header.destCall = call.remoteCall;
    header.timestampMs = timestamp == UINT32_MAX ? CallMs(call) : timestamp;
    header.sequence = takesSequence ? call.outSeq++ : 0;
    header.type = type;
    header.subclassByte = CompressSubclass(subclass);
    Send(BuildFull(header, payload), call.address);
}

void EchoPeer::SendAck(const PeerFrame& frame, const sockaddr_in& to, uint16_t ownCall)
{
    FullHeader header;
    header.sourceCall = ownCall;
    header.destCall = frame.sourceCall;
    header.timestampMs = frame.timestampMs;
    header.sequence = frame.sequence;
    header.type = kIax;
    header.subclassByte = kAck;
    Send(BuildFull(header), to);
}

void EchoPeer::Send(const Bytes& datagram, const sockaddr_in& to)
{
    sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

bool ParseNumber(const std::string& text, int& value)
{
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < 0 || number > 1000000)
        return false;
    value = static_cast<int>(number);
    return true;
}

// "--ring-registered" alone means one second; it never takes the next word.
bool ParseRingOption(const std::string& arg, Options& options)
{
    const std::string name = "--ring-registered";
    if (arg == name) {
        options.ringRegisteredMs = 1000;
        return true;
    }
    int seconds = 0;
    if (arg.rfind(name + "=", 0) != 0 || !ParseNumber(arg.substr(name.size() + 1), seconds) ||
        seconds > 3600)
        return false;
    options.ringRegisteredMs = seconds * 1000;
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--ring-registered", 0) == 0) {
            if (!ParseRingOption(arg, options))
                return false;
            continue;
        }
        std::string value;
        size_t equals = arg.find('=');
        bool hasValue = equals != std::string::npos;
        if (hasValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (arg != "--quiet" && i + 1 < argc) {
            value = argv[++i];
            hasValue = true;
        }
        bool ok = hasValue;
        if (arg == "--quiet")
            options.quiet = ok = !hasValue;
        else if (arg == "--port")
            ok = ok && ParseNumber(value, options.port);
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--v2-port")
            ok = ok && (value == "off" ? (options.v2Port = kV2Off, true)
                                       : ParseNumber(value, options.v2Port));
        else if (arg == "--password")
            options.password = value;
        else if (arg == "--answer-delay-ms")
            ok = ok && ParseNumber(value, options.answerDelayMs);
        else
            ok = false;
        if (!ok)
            return false;
    }
    return options.port <= 65535 && options.v2Port <= 65535;
}

int OpenSocket(const Options& options, int port, uint16_t& boundPort)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
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

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velnar-echo (Velnar) %s\n", VELNAR_VERSION);
            return 0;
        }
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "velnar-echo: invalid arguments\n"
                     "Try 'velnar-echo --help' for more information.\n");
        return 2;
    }
    struct sigaction stop = {};
    stop.sa_handler = RequestStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    uint16_t port = 0;
    int fd = OpenSocket(options, options.port, port);
    if (fd < 0) {
        std::fprintf(stderr, "cannot bind %s:%d: %s\n", options.host.c_str(), options.port,
                     std::strerror(errno));
        return 1;
    }
    // Always printed, also with --quiet: programs that start the peer read it.
    std::printf("listening on %s:%u; dial %s:%u/100\n", options.host.c_str(), port,
                options.host.c_str(), port);
    int v2Port = options.v2Port == kV2Default ? (options.port == 0 ? 0 : 4570) : options.v2Port;
    uint16_t v2Bound = 0;
    int v2Fd = options.v2Port == kV2Off ? -1 : OpenSocket(options, v2Port, v2Bound);
    if (v2Fd >= 0)
        std::printf("version 2 on %s:%u\n", options.host.c_str(), v2Bound);
    else if (options.v2Port != kV2Off)
        std::fprintf(stderr, "velnar-echo: version 2 off: cannot bind %s:%d: %s\n",
                     options.host.c_str(), v2Port, std::strerror(errno));
    std::fflush(stdout);
    EchoPeer peer(fd, options);
    echo2::Options v2Options;
    v2Options.answerDelayMs = options.answerDelayMs;
    v2Options.password = options.password;
    v2Options.ringRegisteredMs = options.ringRegisteredMs;
    v2Options.say = [&peer](const std::string& text) { peer.SayLine(text); };
    echo2::EchoV2 v2(v2Fd, v2Options);
    peer.Run(v2Fd >= 0 ? &v2 : nullptr, v2Fd);
    close(fd);
    if (v2Fd >= 0)
        close(v2Fd);
    if (!options.quiet)
        std::printf("stopped\n");
    return 0;
}
