// Measures what a flood of strangers' datagrams costs the phone during a
// call, and whether it recovers: the engine calls the echo peer on loopback
// (in-memory devices clocked every 20 ms, a tone talked, the echo played),
// then a second process floods the phone's port on 127.0.0.1 from 1,000
// source ports with random bytes, mini frames and full frames to the
// unknown call number 0xFFFF (NEWs among them), then stops.
//
//   velnar_flood_call [flood-seconds] [datagrams-per-second]   (60, 10000)
//   velnar_flood_call --ctest    as a CTest test (see bench_run.h): 3 s of
//                                2,000 datagrams/s, windows of 3 s; or in full
//
// Printed: the phone process's CPU use and resident memory over 10 s before
// the flood, during it and over the 10 s after it; voice played per window;
// the live sessions seen during the flood; and, counted by the flooding
// process, what came back to the strangers: per NEW its ACK and REJECT (at
// most one of each), and anything sent for their other frames. The program
// exits 0 when every target holds: CPU after the flood within 1 percentage
// point of before, memory within 5 MB, the call still connected with voice
// both ways, at most an ACK and a REJECT per NEW and nothing for any other
// frame. A smoke run holds only the call and the replies: CPU, memory and
// voice depend on what else the machine does.
#include "bench/bench_run.h"
#include "engine/iax_phone.h"
#include "iax/testing.h"
#include "platform/doubles/fake_wave_device.h"
#include "tests/support/echo_peer_process.h"
#include "tests/support/event_pump.h"
#include "tests/support/library_port.h"
#include "tests/support/process_sampler.h"
#include "tests/support/sine_tone.h"
#include "tools/peer/peer_frame.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace velnar;
using test::RunFor;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kStrangerPorts = 1000;

// ---------------------------------------------------------------- devices

// The in-memory devices clocked like a sound card: every 20 ms capture
// delivers one buffer of a tone and playback plays one block (none while
// paused), counting the loud ones among them (the echo of the tone).
class SoundCardClock {
public:
    SoundCardClock(FakeWaveIn& in, FakeWaveOut& out)
        : m_in(in), m_out(out), m_tone(test::SineBytes(500.0, 160, 8000))
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_timer.start(20);
    }
    size_t delivered = 0;
    size_t played = 0;
    size_t loud = 0;

private:
    void Tick()
    {
        delivered += m_in.Deliver(m_tone);
        NoteWritten();
        if (m_out.PlayN(1) == 0 || m_pendingLoud.empty())
            return;
        // Nothing is reset during the call, so blocks play in the order written.
        ++played;
        loud += m_pendingLoud.front();
        m_pendingLoud.pop_front();
    }
    // Whether each block written since the last tick is loud; the device's
    // own record of them is dropped, so that memory does not grow with it.
    void NoteWritten()
    {
        for (const auto& block : m_out.Written())
            m_pendingLoud.push_back(test::AnyLouder(block.data(), block.size(), 3000));
        m_out.ForgetWritten();
    }

    FakeWaveIn& m_in;
    FakeWaveOut& m_out;
    std::vector<uint8_t> m_tone;
    std::deque<bool> m_pendingLoud;  // per block written and not yet played
    QTimer m_timer;
};

// ---------------------------------------------------------------- the phone

class CountingOwner : public PhoneOwner {
public:
    void ShowStatus(const std::string& text) override
    {
        ++counts[text];
        last = text;
        if (text != kIgnored && text != kMissed)
            log.push_back(text);
    }
    static constexpr const char* kIgnored =
        "Incoming call ignored, there's already a call waiting for answer... please accept or "
        "reject first";
    static constexpr const char* kMissed = "Missed a call... too many sessions open.";
    std::map<std::string, size_t> counts;
    std::vector<std::string> log;  // every other text, in order
    std::string last;
};

// How long to flood and measure, and whether the targets that depend on the
// machine's load (CPU, memory, voice) decide the exit status.
struct Plan {
    int floodSeconds = 60;
    int rate = 10000;
    int windowSeconds = 10;
    bool holdLoadTargets = true;
};

struct Window {
    double cpuPercent = 0;
    double rssMb = 0;
    size_t captured = 0, played = 0, loud = 0;
    double seconds = 0;
};

// Runs the event loop for that long (or until stop() says so) and measures.
template <typename Stop>
Window Measure(int maxSeconds, const SoundCardClock& clock, Stop stop)
{
    Window w;
    double cpu = test::OwnCpuSeconds();
    size_t captured = clock.delivered, played = clock.played, loud = clock.loud;
    auto start = SteadyClock::now();
    for (int ms = 0; ms < maxSeconds * 1000 && !stop(); ms += 100)
        RunFor(100);
    w.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    w.cpuPercent = 100.0 * (test::OwnCpuSeconds() - cpu) / w.seconds;
    w.rssMb = test::OwnResidentMb();
    w.captured = clock.delivered - captured;
    w.played = clock.played - played;
    w.loud = clock.loud - loud;
    return w;
}

void Print(const char* name, const Window& w)
{
    std::printf(
        "%-7s %5.1f s  CPU %6.2f%%  RSS %7.2f MB  voice captured %5.1f/s, played "
        "%5.1f/s (echo of the tone %5.1f/s)\n",
        name, w.seconds, w.cpuPercent, w.rssMb, w.captured / w.seconds, w.played / w.seconds,
        w.loud / w.seconds);
}

// ---------------------------------------------------------------- the flood

// What came back to the strangers, counted by the flooding process.
struct FloodCounts {
    long sent = 0, news = 0, otherFull = 0, mini = 0, random = 0;
    long newsAnswered[4] = {};  // NEWs with 0, 1, 2, more datagrams back
    long newAcks = 0, newRejects = 0, newOther = 0;
    long repliesToOtherFrames = 0;  // anything for a full frame that is not a NEW
    long unattributed = 0;
};

struct Stranger {
    int fd = -1;
    uint16_t nextCall = 1;
    // What each of our call numbers was used for, and what came back to it.
    std::map<uint16_t, bool> isNew;
    std::map<uint16_t, std::vector<uint32_t>> replies;  // subclass of each reply (ACK, REJECT...)
};

void Receive(std::vector<Stranger>& strangers, int epoll, FloodCounts& counts, int timeoutMs)
{
    epoll_event ready[64];
    int n = epoll_wait(epoll, ready, 64, timeoutMs);
    for (int i = 0; i < n; ++i) {
        Stranger& s = strangers[ready[i].data.u32];
        uint8_t buffer[2048];
        ssize_t length;
        while ((length = recv(s.fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            auto frame = iaxpeer::ParseDatagram(buffer, size_t(length));
            if (!frame || !frame->full || !s.isNew.count(frame->destCall)) {
                ++counts.unattributed;
                continue;
            }
            s.replies[frame->destCall].push_back(
                frame->type == iaxpeer::kIax ? uint32_t(frame->subclass) : 0xFFFFFFFF);
        }
    }
}

int Flood(uint16_t port, int seconds, int rate, int windowSeconds)
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    int epoll = epoll_create1(0);
    std::vector<Stranger> strangers(kStrangerPorts);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (uint32_t i = 0; i < strangers.size(); ++i) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::perror("flooder socket");
            return 1;
        }
        strangers[i].fd = fd;
        epoll_event interest{};
        interest.events = EPOLLIN;
        interest.data.u32 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &interest);
    }
    sockaddr_in phone = local;
    phone.sin_port = htons(port);

    std::mt19937 random(12345);
    auto byte = [&] { return uint8_t(random()); };
    FloodCounts counts;
    const uint8_t iaxKinds[] = {iaxpeer::kNew,    iaxpeer::kPing,    iaxpeer::kLagRq,
                                iaxpeer::kHangup, iaxpeer::kRegAuth, iaxpeer::kAuthReq,
                                iaxpeer::kAccept, iaxpeer::kReject,  iaxpeer::kTxReq,
                                iaxpeer::kAck,    iaxpeer::kRegAck,  iaxpeer::kInval};
    auto start = SteadyClock::now();
    const long total = long(seconds) * rate;
    for (long i = 0; i < total; ++i) {
        // Paced in steps of a millisecond; replies are read in between.
        auto due = start + std::chrono::microseconds(i * 1000000L / rate);
        if (SteadyClock::now() < due) {
            auto waitMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - SteadyClock::now());
            Receive(strangers, epoll, counts, int(waitMs.count()));
        }
        Stranger& s = strangers[size_t(random() % strangers.size())];
        iaxpeer::Bytes datagram;
        unsigned kind = random() % 10;
        if (kind < 3) {  // random bytes
            datagram.resize(1 + random() % 200);
            for (auto& b : datagram)
                b = byte();
            ++counts.random;
        } else if (kind < 6) {  // mini frames
            datagram = iaxpeer::BuildMini(uint16_t(1 + random() % 32767), uint16_t(random()),
                                          iaxpeer::Bytes(33, byte()));
            ++counts.mini;
        } else {  // full frames to 0xFFFF, each from a call number of its own
            uint16_t call = s.nextCall++;
            bool isNew = kind == 6;
            uint32_t subclass = isNew ? uint32_t(iaxpeer::kNew) : iaxKinds[1 + random() % 11];
            uint8_t type = iaxpeer::kIax;
            if (!isNew && random() % 3 == 0) {  // any type, but never a NEW
                type = uint8_t(1 + random() % 9);
                subclass = byte() & 0x7F;
                if (type == iaxpeer::kIax && subclass == iaxpeer::kNew)
                    subclass = iaxpeer::kPing;
            }
            std::string text = isNew ? "exten=100;formats=2;version=1;"
                                     : "methods=md5;challenge=123456789;remip=127.0.0.1;"
                                       "remport=9;remcall=3;";
            iaxpeer::FullHeader header{call,
                                       iaxpeer::kUnknownCall,
                                       uint32_t(random()),
                                       uint16_t(random() % 4),
                                       type,
                                       iaxpeer::CompressSubclass(subclass)};
            datagram = iaxpeer::BuildFull(header, iaxpeer::Bytes(text.begin(), text.end()));
            s.isNew[call] = isNew;
            ++(isNew ? counts.news : counts.otherFull);
        }
        sendto(s.fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&phone),
               sizeof phone);
        ++counts.sent;
    }
    // Whatever the phone still sends to the strangers, for as long as the
    // phone is measured after the flood.
    auto end = SteadyClock::now() + std::chrono::seconds(windowSeconds);
    while (SteadyClock::now() < end)
        Receive(strangers, epoll, counts, 50);

    for (Stranger& s : strangers) {
        for (const auto& [call, isNew] : s.isNew) {
            auto found = s.replies.find(call);
            size_t n = found == s.replies.end() ? 0 : found->second.size();
            if (!isNew) {
                counts.repliesToOtherFrames += long(n);
                continue;
            }
            ++counts.newsAnswered[std::min<size_t>(n, 3)];
            if (n == 0)
                continue;
            for (uint32_t subclass : found->second) {
                if (subclass == iaxpeer::kAck)
                    ++counts.newAcks;
                else if (subclass == iaxpeer::kReject)
                    ++counts.newRejects;
                else
                    ++counts.newOther;
            }
        }
        close(s.fd);
    }
    std::printf("%ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld\n", counts.sent,
                counts.news, counts.otherFull, counts.mini, counts.random, counts.newsAnswered[0],
                counts.newsAnswered[1], counts.newsAnswered[2], counts.newsAnswered[3],
                counts.newAcks, counts.newRejects, counts.newOther, counts.repliesToOtherFrames,
                counts.unattributed,
                long(std::chrono::duration<double>(SteadyClock::now() - start).count()));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "--flooder")
        return Flood(uint16_t(std::atoi(argv[2])), std::atoi(argv[3]), std::atoi(argv[4]),
                     std::atoi(argv[5]));
    Plan plan;
    if (bench::IsCtestRun(argc, argv)) {
        plan.holdLoadTargets = bench::IsFullRun();
        if (!plan.holdLoadTargets) {
            plan.floodSeconds = plan.windowSeconds = 3;
            plan.rate = 2000;
        }
        bench::PrintRunKind(plan.holdLoadTargets);
    } else {
        plan.floodSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
        plan.rate = argc > 2 ? std::atoi(argv[2]) : 10000;
    }
    const int floodSeconds = plan.floodSeconds, rate = plan.rate;
    if (floodSeconds <= 0 || rate <= 0) {
        std::fprintf(stderr, "usage: %s [flood-seconds (60)] [datagrams-per-second (10000)]\n",
                     argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    CountingOwner owner;
    auto waveIn = std::make_unique<FakeWaveIn>();
    auto waveOut = std::make_unique<FakeWaveOut>();
    SoundCardClock clock(*waveIn, *waveOut);
    CIaxPhone phone(owner, std::move(waveIn), std::move(waveOut), -1);
    test::EchoPeerProcess peer(true);
    const uint16_t peerPort = peer.Port();
    if (peerPort == 0) {
        std::fprintf(stderr, "echo peer did not start\n");
        return 1;
    }
    phone.Dial("127.0.0.1:" + std::to_string(peerPort) + "/100");
    RunFor(2000);
    if (owner.last != "Connected") {
        std::fprintf(stderr, "the echo call did not connect: %s\n", owner.last.c_str());
        return 1;
    }
    std::printf("echo call connected; flood: %d s of %d datagrams/s from %d ports\n", floodSeconds,
                rate, kStrangerPorts);
    std::fflush(stdout);

    Window before = Measure(plan.windowSeconds, clock, [] { return false; });
    Print("before", before);

    QProcess flooder;
    flooder.start(QCoreApplication::applicationFilePath(),
                  {"--flooder", QString::number(test::LibraryPort()), QString::number(floodSeconds),
                   QString::number(rate), QString::number(plan.windowSeconds)});
    flooder.waitForStarted(5000);
    int maxSessions = 0, maxTimers = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        maxSessions = std::max(maxSessions, IaxSessionCount());
        maxTimers = std::max(maxTimers, IaxTimerCount());
    });
    sampler.start(100);
    auto floodStart = SteadyClock::now();
    Window during = Measure(floodSeconds + 5, clock, [&] {
        return SteadyClock::now() - floodStart >= std::chrono::seconds(floodSeconds);
    });
    Print("during", during);
    Window after = Measure(plan.windowSeconds, clock, [] { return false; });
    sampler.stop();
    Print("after", after);
    flooder.waitForFinished(30000);
    std::printf(
        "live sessions sampled during the flood: at most %d; timer entries at most %d; "
        "after: %d sessions, %d timer entries\n",
        maxSessions, maxTimers, IaxSessionCount(), IaxTimerCount());
    std::printf("status texts: %zu \"Incoming call ignored...\", %zu \"Missed a call...\"; others:",
                owner.counts[CountingOwner::kIgnored], owner.counts[CountingOwner::kMissed]);
    for (const auto& text : owner.log)
        std::printf(" \"%s\"", text.c_str());
    std::printf("\n");

    long c[15] = {};
    std::sscanf(flooder.readAllStandardOutput().constData(),
                "%ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld %ld", &c[0], &c[1], &c[2],
                &c[3], &c[4], &c[5], &c[6], &c[7], &c[8], &c[9], &c[10], &c[11], &c[12], &c[13],
                &c[14]);
    std::printf(
        "flood sent %ld datagrams in %ld s: %ld NEWs, %ld other full frames, %ld mini "
        "frames, %ld random\n",
        c[0], c[14] - plan.windowSeconds, c[1], c[2], c[3], c[4]);
    std::printf(
        "NEWs answered with 0 / 1 / 2 / more datagrams: %ld / %ld / %ld / %ld (%ld ACK, "
        "%ld REJECT, %ld other)\n",
        c[5], c[6], c[7], c[8], c[9], c[10], c[11]);
    std::printf("datagrams for the other full frames: %ld; not attributable: %ld\n", c[12], c[13]);

    bool inCall =
        phone.IsInCall() && owner.log == std::vector<std::string>{"Calling...", "Connected"};
    // Voice both ways: the tone went out, and its echo came back, every 20 ms
    // give or take a few blocks.
    bool voice =
        after.captured >= size_t(after.seconds * 45) && after.loud >= size_t(after.seconds * 45);
    bool cpu = after.cpuPercent <= before.cpuPercent + 1.0;
    bool memory = after.rssMb <= before.rssMb + 5.0;
    bool replies =
        c[0] > 0 && c[8] == 0 && c[11] == 0 && c[12] == 0 && c[9] <= c[1] && c[10] <= c[1];
    std::printf(
        "targets: call connected %s, voice both ways after %s, CPU within 1 point %s "
        "(%+.2f), RSS within 5 MB %s (%+.2f MB), at most ACK+REJECT per NEW and nothing "
        "else %s\n",
        inCall ? "yes" : "NO", voice ? "yes" : "NO", cpu ? "yes" : "NO",
        after.cpuPercent - before.cpuPercent, memory ? "yes" : "NO", after.rssMb - before.rssMb,
        replies ? "yes" : "NO");
    const bool load = voice && cpu && memory;
    return inCall && replies && (load || !plan.holdLoadTargets) ? 0 : 1;
}
