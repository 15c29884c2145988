// Cost per datagram of the library's receive and send paths, each beside a
// bare recvfrom/sendto loop over the same kind of loopback socket in the same
// run, so the ratio says what the library adds to the system call.
//
// Receive benchmarks pre-fill the receiving socket with kBatch datagrams
// (timing paused), then time draining them. The library runs on a fake tick
// source advanced 20 ms per voice frame, and the sender stamps its frames in
// step with it, so every frame meets the jitter buffer exactly on time and
// comes out as an event (checked: a run that loses frames reports an error).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "iax/iax.h"
#include "iax/testing.h"
#include "tests/support/iax_test_peer.h"

namespace {

constexpr int kBatch = 512;
constexpr int kFrameMs = 20;
constexpr int kGsm = 2;
constexpr int kGsmFrameBytes = 33;
constexpr int kSocketBufferBytes = 4 << 20;

uint32_t g_fakeMs = 0;
uint32_t FakeTicks()
{
    return g_fakeMs;
}

const iaxpeer::Bytes& GsmFrame()
{
    static const iaxpeer::Bytes frame(kGsmFrameBytes, 0xD5);
    return frame;
}

void GrowReceiveBuffer(int fd)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
}

// A bound UDP socket on 127.0.0.1 with an ephemeral port.
struct LoopbackSocket {
    int fd = -1;
    sockaddr_in address{};
    LoopbackSocket()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        GrowReceiveBuffer(fd);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    }
    ~LoopbackSocket() { close(fd); }
    void SendTo(const iaxpeer::Bytes& datagram, const sockaddr_in& to) const
    {
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    void Drain() const
    {
        uint8_t buffer[65536];
        while (recv(fd, buffer, sizeof buffer, 0) >= 0) {
        }
    }
};

void SetPerDatagram(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["per_datagram"] = benchmark::Counter(
        kBatch, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One call from the library to a peer, accepted, with one full voice frame
// received so that mini frames have a format. Owns the library state.
class CallFixture {
public:
    CallFixture()
    {
        g_fakeMs = 1000000;
        IaxSetTickSource(FakeTicks);
        m_port = IaxOpenSocket(-1);
        GrowReceiveBuffer(IaxSocketHandle());
        IaxSetFormats(kGsm);
        m_session = IaxNewSession();
        std::string dial = "127.0.0.1:" + std::to_string(m_peer.Port()) + "/100";
        IaxPlaceCall(m_session, nullptr, dial.c_str(), nullptr);
        m_peer.SetAutoAck(true);
        m_peer.SetClock(FakeTicks);
        m_ok = m_port > 0 && m_peer.ExpectIax(iaxpeer::kNew).has_value();
        m_peer.SendIax(iaxpeer::kAccept, "formats=2;", true);
        m_ok = m_ok && Expect(EvAccept);
        SendVoice();
        Rewind(1);
        m_ok = m_ok && Expect(EvVoice);
        g_fakeMs += kFrameMs;
        m_peer.Drain();
    }
    ~CallFixture() { IaxResetForTesting(); }

    bool Ok() const { return m_ok; }
    IaxSession* Session() const { return m_session; }
    iaxpeer::IaxTestPeer& Peer() { return m_peer; }

    // The next voice frame from the peer, 20 ms after the last; a full frame
    // when asked or when its time stamp enters a new 65536-ms epoch, as a real
    // sender does.
    void SendVoice(bool full = false)
    {
        uint32_t ts = m_peer.Now();
        if (full || !m_sentFull || (ts >> 16) != (m_lastFullTs >> 16)) {
            m_peer.SendVoice(kGsm, GsmFrame());
            m_sentFull = true;
            m_lastFullTs = ts;
        } else {
            m_peer.SendMini(GsmFrame());
        }
        g_fakeMs += kFrameMs;
    }

    // Rewinds the fake clock over a pre-filled batch, so each frame is read
    // at the instant it was stamped.
    static void Rewind(int frames) { g_fakeMs -= static_cast<uint32_t>(frames * kFrameMs); }

private:
    bool Expect(int type)
    {
        for (int i = 0; i < 100; ++i) {
            IaxEvent* e = IaxNextEvent(0);
            if (!e)
                continue;
            bool ok = e->type == type;
            IaxFreeEvent(e);
            return ok;
        }
        return false;
    }

    iaxpeer::IaxTestPeer m_peer;
    int m_port = 0;
    IaxSession* m_session = nullptr;
    bool m_ok = false;
    bool m_sentFull = false;
    uint32_t m_lastFullTs = 0;
};

// Drains a pre-filled batch through IaxNextEvent; the clock moves with the
// frames' time stamps. Returns the number of voice events.
int DrainThroughLibrary()
{
    int voice = 0;
    for (int i = 0; i < kBatch; ++i) {
        IaxEvent* e = IaxNextEvent(0);
        g_fakeMs += kFrameMs;
        if (!e)
            continue;
        voice += e->type == EvVoice;
        IaxFreeEvent(e);
    }
    return voice;
}

void ReceiveThroughLibrary(benchmark::State& state, bool full)
{
    CallFixture call;
    if (!call.Ok()) {
        state.SkipWithError("call set-up failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kBatch; ++i)
            call.SendVoice(full);
        CallFixture::Rewind(kBatch);
        state.ResumeTiming();
        int voice = DrainThroughLibrary();
        state.PauseTiming();
        call.Peer().Drain();  // the ACKs of full frames
        call.Peer().ClearPending();
        state.ResumeTiming();
        if (voice != kBatch) {
            state.SkipWithError(("only " + std::to_string(voice) + " voice events").c_str());
            break;
        }
    }
    SetPerDatagram(state);
}

void BM_IaxNextEvent_MiniVoice(benchmark::State& state)
{
    ReceiveThroughLibrary(state, false);
}
void BM_IaxNextEvent_FullVoiceWithAck(benchmark::State& state)
{
    ReceiveThroughLibrary(state, true);
}

// The bare loop: the same datagrams, read with recvfrom; for full frames a
// 12-byte answer goes back with sendto, as the library's ACK does.
void BareReceive(benchmark::State& state, bool full)
{
    LoopbackSocket receiver, sender;
    iaxpeer::Bytes datagram =
        full ? iaxpeer::BuildFull({5, 1, 20, 1, iaxpeer::kVoice, kGsm}, GsmFrame())
             : iaxpeer::BuildMini(5, 20, GsmFrame());
    iaxpeer::Bytes ack = iaxpeer::BuildFull({1, 5, 20, 1, iaxpeer::kIax, iaxpeer::kAck});
    uint8_t buffer[65536];
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kBatch; ++i)
            sender.SendTo(datagram, receiver.address);
        state.ResumeTiming();
        int got = 0;
        for (int i = 0; i < kBatch; ++i) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(receiver.fd, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &len);
            got += n > 0;
            if (full && n > 0)
                receiver.SendTo(ack, from);
        }
        benchmark::DoNotOptimize(buffer);
        state.PauseTiming();
        sender.Drain();
        state.ResumeTiming();
        if (got != kBatch) {
            state.SkipWithError("datagrams lost in the socket buffer");
            break;
        }
    }
    SetPerDatagram(state);
}

void BM_BareRecvfrom_MiniVoice(benchmark::State& state)
{
    BareReceive(state, false);
}
void BM_BareRecvfromSendto_FullVoice(benchmark::State& state)
{
    BareReceive(state, true);
}

// Sending: IaxSendVoice per 33-byte frame (mini frames, with a full frame at
// each 65536-ms epoch) against a bare sendto of the same mini datagram.
void BM_IaxSendVoice(benchmark::State& state)
{
    CallFixture call;
    if (!call.Ok()) {
        state.SkipWithError("call set-up failed");
        return;
    }
    const iaxpeer::Bytes& frame = GsmFrame();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            if (IaxSendVoice(call.Session(), kGsm, frame.data(), kGsmFrameBytes) != 0) {
                state.SkipWithError(IaxLastError);
                break;
            }
            g_fakeMs += kFrameMs;
        }
        state.PauseTiming();
        call.Peer().Drain();  // acknowledges the occasional full frame
        call.Peer().ClearPending();
        while (IaxEvent* e = IaxNextEvent(0))
            IaxFreeEvent(e);
        state.ResumeTiming();
    }
    SetPerDatagram(state);
}

void BM_BareSendto_MiniVoice(benchmark::State& state)
{
    LoopbackSocket receiver, sender;
    iaxpeer::Bytes datagram = iaxpeer::BuildMini(5, 20, GsmFrame());
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            sender.SendTo(datagram, receiver.address);
        state.PauseTiming();
        receiver.Drain();
        state.ResumeTiming();
    }
    SetPerDatagram(state);
}

BENCHMARK(BM_BareRecvfrom_MiniVoice);
BENCHMARK(BM_IaxNextEvent_MiniVoice);
BENCHMARK(BM_BareRecvfromSendto_FullVoice);
BENCHMARK(BM_IaxNextEvent_FullVoiceWithAck);
BENCHMARK(BM_BareSendto_MiniVoice);
BENCHMARK(BM_IaxSendVoice);

}  // namespace

BENCHMARK_MAIN();
