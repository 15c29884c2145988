// Cost per datagram of the version-2 library's receive and send paths, each
// beside a bare recvfrom/sendto loop over the same kind of loopback socket
// in the same run, so the ratio says what the library adds to the system
// call. Voice is µ-law, 160 octets per 20 ms, in mini frames.
//
// Receive benchmarks pre-fill the endpoint's socket with kBatch datagrams
// (timing paused), then time draining them into events. The endpoint runs on
// a fake clock moved in step with the sender's stamps, so every frame leaves
// the jitter buffer as an event (checked: a run that loses frames reports an
// error). The send benchmark acknowledges the occasional full voice frame
// between batches, as the far end would.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "iax2/endpoint.h"

namespace {

using iax2::Bytes;

constexpr int kBatch = 512;
constexpr int kFrameMs = 20;
constexpr int kVoiceBytes = 160;
constexpr int kSocketBufferBytes = 4 << 20;
constexpr uint16_t kPeerCall = 0x2B67;

uint64_t g_fakeMs = 1000000;

void GrowBuffers(int fd)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
}

struct LoopbackSocket {
    int fd = -1;
    sockaddr_in address{};
    LoopbackSocket()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        GrowBuffers(fd);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    }
    ~LoopbackSocket() { close(fd); }
    uint16_t Port() const { return ntohs(address.sin_port); }
    void SendTo(const Bytes& datagram, uint16_t port) const
    {
        sockaddr_in to = address;
        to.sin_port = htons(port);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    int Receive(uint8_t* buffer, size_t capacity) const
    {
        return int(recv(fd, buffer, capacity, 0));
    }
};

Bytes Full(uint16_t destination, uint32_t stamp, uint8_t oseqno, uint8_t iseqno, uint8_t type,
           uint32_t subclass, const Bytes& data = {})
{
    Bytes frame;
    iax2::AppendFull({kPeerCall, destination, false, stamp, oseqno, iseqno, type, subclass}, data,
                     &frame);
    return frame;
}

// An answered µ-law call from the endpoint to a bare peer socket, with one
// full voice frame heard so that minis have a codec.
class CallFixture {
public:
    CallFixture()
    {
        iax2::EndpointOptions options;
        options.clock = [] { return g_fakeMs; };
        options.jitterDelayMs = 0;
        options.pingIntervalMs = 1u << 30;
        m_endpoint = std::make_unique<iax2::Endpoint>(options);
        m_ok = m_endpoint->Open(0) > 0;
        GrowBuffers(m_endpoint->handle());
        m_call = m_endpoint->PlaceCall({"", "", "127.0.0.1", m_peer.Port(), "100", "", "", "", {}});
        uint8_t buffer[2048];
        usleep(1000);
        m_ok = m_ok && m_call > 0 && m_peer.Receive(buffer, sizeof buffer) >= 12;
        const Bytes accept = iax2::IeWriter().U32(iax2::kIeFormat, iax2::kFormatUlaw).bytes();
        m_peer.SendTo(Full(uint16_t(m_call), 5, 0, 1, iax2::kTypeCommand, iax2::kAccept, accept),
                      Port());
        m_peer.SendTo(Full(uint16_t(m_call), 6, 1, 1, iax2::kTypeControl, iax2::kCtrlAnswer),
                      Port());
        m_peer.SendTo(Full(uint16_t(m_call), m_stamp, 2, 1, iax2::kTypeVoice, iax2::kFormatUlaw,
                           Bytes(kVoiceBytes, 0xFF)),
                      Port());
        m_ok = m_ok && Drain(1) == 1;
        Discard();
    }
    bool Ok() const { return m_ok; }
    iax2::Endpoint& Endpoint() { return *m_endpoint; }
    int Call() const { return m_call; }
    LoopbackSocket& Peer() { return m_peer; }
    uint16_t Port() const { return uint16_t(m_endpoint->port()); }

    void SendMiniBatch()
    {
        for (int i = 0; i < kBatch; ++i) {
            m_stamp += kFrameMs;
            Bytes mini;
            iax2::AppendMini({kPeerCall, uint16_t(m_stamp)}, m_voice, &mini);
            m_peer.SendTo(mini, Port());
        }
        g_fakeMs += kBatch * kFrameMs;
    }
    // Services the endpoint until `frames` voice events came out.
    int Drain(int frames)
    {
        int voice = 0;
        for (int spins = 0; voice < frames && spins < 100000; ++spins) {
            m_endpoint->Service();
            for (iax2::Event event; m_endpoint->NextEvent(&event);)
                voice += event.type == iax2::EventType::Voice;
        }
        return voice;
    }
    // Reads what the endpoint sent and acknowledges its full frames.
    void Discard()
    {
        uint8_t buffer[2048];
        for (int got; (got = m_peer.Receive(buffer, sizeof buffer)) >= 0;)
            if (got >= 12 && (buffer[0] & 0x80) && buffer[10] != iax2::kTypeCommand) {
                const uint32_t stamp = uint32_t(buffer[4]) << 24 | uint32_t(buffer[5]) << 16 |
                                       uint32_t(buffer[6]) << 8 | buffer[7];
                m_peer.SendTo(Full(uint16_t(m_call), stamp, 3, uint8_t(buffer[8] + 1),
                                   iax2::kTypeCommand, iax2::kAck),
                              Port());
            }
        m_endpoint->Service();
    }

private:
    std::unique_ptr<iax2::Endpoint> m_endpoint;
    LoopbackSocket m_peer;
    int m_call = 0;
    bool m_ok = false;
    uint32_t m_stamp = 100;
    Bytes m_voice = Bytes(kVoiceBytes, 0x7F);
};

void SetPerDatagram(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["per_datagram"] = benchmark::Counter(
        kBatch, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_BareRecvfrom_MiniVoice(benchmark::State& state)
{
    LoopbackSocket sender, receiver;
    const Bytes mini(4 + kVoiceBytes, 0x7F);
    uint8_t buffer[65536];
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kBatch; ++i)
            sender.SendTo(mini, receiver.Port());
        state.ResumeTiming();
        for (int got = 0; got < kBatch;)
            got += receiver.Receive(buffer, sizeof buffer) >= 0;
    }
    SetPerDatagram(state);
}

void BM_Iax2Service_MiniVoice(benchmark::State& state)
{
    CallFixture call;
    if (!call.Ok())
        return state.SkipWithError("the call could not be set up");
    for (auto _ : state) {
        state.PauseTiming();
        call.SendMiniBatch();
        state.ResumeTiming();
        if (call.Drain(kBatch) != kBatch)
            return state.SkipWithError("voice frames were lost");
    }
    SetPerDatagram(state);
}

void BM_BareSendto_MiniVoice(benchmark::State& state)
{
    LoopbackSocket sender, receiver;
    const Bytes mini(4 + kVoiceBytes, 0x7F);
    uint8_t buffer[65536];
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            sender.SendTo(mini, receiver.Port());
        state.PauseTiming();
        while (receiver.Receive(buffer, sizeof buffer) >= 0) {
        }
        state.ResumeTiming();
    }
    SetPerDatagram(state);
}

void BM_Iax2SendVoice(benchmark::State& state)
{
    CallFixture call;
    if (!call.Ok())
        return state.SkipWithError("the call could not be set up");
    const Bytes voice(kVoiceBytes, 0x7F);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            g_fakeMs += kFrameMs;
            if (call.Endpoint().SendVoice(call.Call(), iax2::kFormatUlaw, voice, kVoiceBytes) != 0)
                return state.SkipWithError(call.Endpoint().LastError().c_str());
        }
        state.PauseTiming();
        call.Discard();
        state.ResumeTiming();
    }
    SetPerDatagram(state);
}

}  // namespace

BENCHMARK(BM_BareRecvfrom_MiniVoice);
BENCHMARK(BM_Iax2Service_MiniVoice);
BENCHMARK(BM_BareSendto_MiniVoice);
BENCHMARK(BM_Iax2SendVoice);

BENCHMARK_MAIN();
