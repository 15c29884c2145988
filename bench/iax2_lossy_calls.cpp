// Version-2 calls over a bad path: the version-2 library (with its default
// transport settings, as the phone uses it) calls the echo service's
// version-2 side, in a process of its own, through a relay on 127.0.0.1
// that loses 20 % of the datagrams, sends 5 % twice and holds 5 % back
// behind the next one, in both directions. One call at a time, each:
// placed (the echo service demands a call token), connected (ACCEPT and
// ANSWER seen), a second of µ-law voice sent as a phone sends it (a frame
// every 20 ms, the first one full, the rest mini), the echoed frames
// counted, then hung up by us and the outcome of our HANGUP read off the
// endpoint: acknowledged, answered with INVAL, or given up.
//
//   velnar_iax2_lossy_calls [calls] [seed] [--retries=N]
//                                   (50, a fresh seed, printed; the library's
//                                   4 retries, as the phone runs it)
//   velnar_iax2_lossy_calls --ctest [--retries=N]   as a CTest test (see
//                                   bench_run.h): 5 calls; 50 in full
//
// Retries: at this loss each try of a request and its answer fails with a
// chance of about 0.36, so after the default 4 retries about one exchange in
// 170 that has no other frame to carry its acknowledgement (a call token's,
// a HANGUP's) is given up: a run of 50 calls may lose one. The test command
// runs with 8 retries (one in 10,000), so that it holds "every call".
//
// Printed: a line per call (setup time, frames sent, frames echoed back,
// frames the echo service says it sent back, repeats included, the
// HANGUP's outcome and how long it took), what the relay did, and the
// summary "connected", "voice both ways" (at least a quarter of the frames
// came back: with a fifth lost each way about two thirds are expected) and
// "HANGUPs acknowledged" (by ACK, explicit or by a later frame's ISeqno;
// those answered with INVAL and those given up are counted beside it).
// Exits 0 when every call passed all three. Nothing here depends on the
// machine's speed, so the smoke run holds every target too.
#include "bench/bench_run.h"
#include "iax2/endpoint.h"
#include "tests/support/echo_peer_process.h"
#include "tests/support/lossy_relay.h"

#include <QCoreApplication>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace velnar;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kVoiceFrames = 50;  // one second of speech
constexpr int kFrameMs = 20;
constexpr int kStragglersMs = 500;  // for echoes still in the jitter buffer

// How long the endpoint resends one frame before it gives up, and a margin:
// waiting for a call's setup or its HANGUP never ends sooner than that.
int GiveUpMs(const iax2::TransportLimits& limits)
{
    int ms = 5000;
    uint32_t interval = limits.initialTimeoutMs;
    for (int retry = 0; retry <= limits.maxRetries; ++retry) {
        ms += int(interval);
        interval = std::min(interval * 2, limits.maxTimeoutMs);
    }
    return ms;
}

int MsSince(SteadyClock::time_point start)
{
    return int(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

struct CallResult {
    bool connected = false;
    int setupMs = -1;
    std::string ending;  // how the call ended before it connected, if it did
    int sent = 0, echoed = 0;
    long echoTook = -1;  // as the echo service reported it; -1 unknown
    std::string hangup = "not sent";
    int hangupMs = -1;
    bool VoiceBothWays() const { return echoed * 4 >= kVoiceFrames; }
    bool Acknowledged() const { return hangup == "acknowledged"; }
};

// The caller's side: the endpoint, the relay in front of it, and the
// events of the call in progress.
class Rig {
public:
    Rig(uint16_t echoPort, uint32_t seed, int retries)
        : m_echoPort(echoPort), m_relay(seed), m_endpoint(Options(retries))
    {
        m_limits.maxRetries = retries;
    }

    bool Open() { return m_endpoint.Open(0) > 0; }
    const test::LossyRelay& relay() const { return m_relay; }
    CallResult RunCall();

private:
    static iax2::EndpointOptions Options(int retries)
    {
        iax2::EndpointOptions options;
        options.transport.maxRetries = retries;
        return options;
    }
    void Pump(int maxWaitMs);
    bool PumpUntil(const std::function<bool()>& done, int deadlineMs);
    bool Connect(int call, CallResult* result);
    void Talk(int call, CallResult* result);
    void HangUp(int call, CallResult* result);
    void TakeVoice(const iax2::Event& event, std::set<int>* heard) const;

    uint16_t m_echoPort;
    iax2::TransportLimits m_limits;
    test::LossyRelay m_relay;
    iax2::Endpoint m_endpoint;
    std::vector<iax2::Event> m_events;
};

void Rig::Pump(int maxWaitMs)
{
    const int due = m_endpoint.NextDueMs();
    pollfd fds[3] = {{m_endpoint.handle(), POLLIN, 0},
                     {m_relay.FdForA(), POLLIN, 0},
                     {m_relay.FdForB(), POLLIN, 0}};
    poll(fds, 3, due < 0 ? maxWaitMs : std::min(due, maxWaitMs));
    m_relay.Pump(uint16_t(m_endpoint.port()), m_echoPort);
    m_endpoint.Service();
    for (iax2::Event event; m_endpoint.NextEvent(&event);)
        m_events.push_back(std::move(event));
    QCoreApplication::processEvents();  // the echo service's report
}

bool Rig::PumpUntil(const std::function<bool()>& done, int deadlineMs)
{
    const auto start = SteadyClock::now();
    while (!done()) {
        if (MsSince(start) >= deadlineMs)
            return false;
        Pump(5);
    }
    return true;
}

CallResult Rig::RunCall()
{
    CallResult result;
    m_events.clear();
    iax2::CallRequest request;
    request.host = "127.0.0.1";
    request.port = m_relay.PortForA();
    request.number = "100";
    request.formats = {iax2::kFormatUlaw};
    const int call = m_endpoint.PlaceCall(request);
    if (call <= 0) {
        result.ending = "not placed: " + m_endpoint.LastError();
        return result;
    }
    if (!Connect(call, &result))
        return result;
    Talk(call, &result);
    HangUp(call, &result);
    return result;
}

bool Rig::Connect(int call, CallResult* result)
{
    const auto start = SteadyClock::now();
    bool accepted = false;
    size_t seen = 0;
    auto settled = [&] {
        for (; seen < m_events.size(); ++seen) {
            const iax2::Event& event = m_events[seen];
            if (event.call != call)
                continue;
            switch (event.type) {
            case iax2::EventType::Accepted: accepted = true; break;
            case iax2::EventType::Answered: result->connected = accepted; return true;
            case iax2::EventType::Rejected: result->ending = "rejected"; return true;
            case iax2::EventType::Busy: result->ending = "busy"; return true;
            case iax2::EventType::Congestion: result->ending = "congestion"; return true;
            case iax2::EventType::Timeout: result->ending = "timed out"; return true;
            case iax2::EventType::Hangup: result->ending = "hung up by the far end"; return true;
            default: break;
            }
        }
        return false;
    };
    if (!PumpUntil(settled, GiveUpMs(m_limits)))
        result->ending = "no answer, and the endpoint did not give up";
    if (result->connected)
        result->setupMs = MsSince(start);
    else if (result->ending.empty())
        result->ending = "answered without being accepted";
    if (!result->connected && result->ending != "timed out")
        m_endpoint.Hangup(call);
    return result->connected;
}

// Frame i is filled with one octet of its own, so that an echo names the
// frame it came from.
void Rig::TakeVoice(const iax2::Event& event, std::set<int>* heard) const
{
    if (event.type != iax2::EventType::Voice || event.payload.empty())
        return;
    const int index = event.payload.front();
    const bool whole = std::all_of(event.payload.begin(), event.payload.end(),
                                   [&](uint8_t octet) { return octet == index; });
    if (whole && index < kVoiceFrames)
        heard->insert(index);
}

void Rig::Talk(int call, CallResult* result)
{
    std::set<int> heard;
    size_t seen = m_events.size();
    auto take = [&] {
        for (; seen < m_events.size(); ++seen)
            TakeVoice(m_events[seen], &heard);
    };
    const auto start = SteadyClock::now();
    for (int frame = 0; frame < kVoiceFrames; ++frame) {
        const std::vector<uint8_t> voice(160, uint8_t(frame));
        if (m_endpoint.SendVoice(call, iax2::kFormatUlaw, voice, 160) == 0)
            ++result->sent;
        const auto next = start + std::chrono::milliseconds((frame + 1) * kFrameMs);
        while (SteadyClock::now() < next)
            Pump(std::max(1, int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     next - SteadyClock::now())
                                     .count())));
        take();
    }
    const auto end = SteadyClock::now();
    PumpUntil([&] { return take(), MsSince(end) >= kStragglersMs; }, kStragglersMs + 100);
    result->echoed = int(heard.size());
}

void Rig::HangUp(int call, CallResult* result)
{
    const iax2::HangupCounts before = m_endpoint.Hangups();
    if (m_endpoint.Hangup(call) != 0) {
        result->hangup = "refused: " + m_endpoint.LastError();
        return;
    }
    const auto start = SteadyClock::now();
    const iax2::HangupCounts& now = m_endpoint.Hangups();
    const bool ended = PumpUntil(
        [&] {
            return now.acknowledged + now.invalidated + now.unanswered >
                   before.acknowledged + before.invalidated + before.unanswered;
        },
        GiveUpMs(m_limits));
    result->hangupMs = MsSince(start);
    if (!ended)
        result->hangup = "neither acknowledged nor given up in time";
    else if (now.acknowledged > before.acknowledged)
        result->hangup = "acknowledged";
    else if (now.invalidated > before.invalidated)
        result->hangup = "answered with INVAL";
    else
        result->hangup = "given up";
}

// The echo service's report of a call ends "HANGUP, N voice frames echoed";
// calls run one at a time, so the newest such line is the last call's.
long EchoedByPeer(const test::EchoPeerProcess& echo, size_t* reportsSeen)
{
    const std::string& output = echo.Output();
    const std::string mark = "HANGUP, ";
    size_t count = 0, last = std::string::npos;
    for (size_t at = output.find(mark); at != std::string::npos; at = output.find(mark, at + 1))
        ++count, last = at;
    if (count == *reportsSeen)
        return -1;
    *reportsSeen = count;
    return std::strtol(output.c_str() + last + mark.size(), nullptr, 10);
}

void PrintCall(int index, const CallResult& r)
{
    if (!r.connected) {
        std::printf("call %2d: NOT connected (%s)\n", index, r.ending.c_str());
        return;
    }
    std::printf("call %2d: connected in %5d ms; voice sent %d, echoed back %d", index, r.setupMs,
                r.sent, r.echoed);
    if (r.echoTook >= 0)
        std::printf(" (the echo service sent %ld)", r.echoTook);
    std::printf("; HANGUP %s after %d ms\n", r.hangup.c_str(), r.hangupMs);
    std::fflush(stdout);
}

int Median(std::vector<int> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Summarise(const std::vector<CallResult>& results, const test::LossyRelay& relay)
{
    const int calls = int(results.size());
    int connected = 0, voice = 0, acknowledged = 0, invalidated = 0, sent = 0, echoed = 0;
    std::vector<int> setups, hangups;
    for (const CallResult& r : results) {
        connected += r.connected;
        voice += r.connected && r.VoiceBothWays();
        acknowledged += r.Acknowledged();
        invalidated += r.hangup == "answered with INVAL";
        sent += r.sent;
        echoed += r.echoed;
        if (r.connected)
            setups.push_back(r.setupMs);
        if (r.Acknowledged())
            hangups.push_back(r.hangupMs);
    }
    const test::LossyRelay::Counts& c = relay.counts();
    std::printf("relay: %llu datagrams, %llu lost, %llu sent twice, %llu held back\n",
                (unsigned long long)c.received, (unsigned long long)c.lost,
                (unsigned long long)c.duplicated, (unsigned long long)c.reordered);
    std::printf(
        "voice: %d frames sent, %d echoed back (%.0f %%); setup median %d ms, "
        "HANGUP acknowledged after median %d ms\n",
        sent, echoed, sent ? 100.0 * echoed / sent : 0.0, Median(setups), Median(hangups));
    std::printf("connected %d/%d, voice both ways %d/%d, HANGUPs acknowledged %d/%d", connected,
                calls, voice, calls, acknowledged, calls);
    std::printf(" (answered with INVAL %d, given up or not sent %d)\n", invalidated,
                connected - acknowledged - invalidated);
    const bool all = connected == calls && voice == calls && acknowledged == calls;
    std::printf("%s\n", all ? "PASS" : "FAIL");
    return all ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    int calls = 50;
    uint32_t seed = std::random_device()();
    int retries = iax2::TransportLimits{}.maxRetries;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--retries=", 0) == 0)
            retries = std::atoi(arg.c_str() + 10);
        else
            positional.push_back(arg);
    }
    if (bench::IsCtestRun(argc, argv)) {
        const bool full = bench::IsFullRun();
        calls = full ? 50 : 5;
        bench::PrintRunKind(full);
    } else {
        calls = positional.size() > 0 ? std::atoi(positional[0].c_str()) : calls;
        seed = positional.size() > 1 ? uint32_t(std::strtoul(positional[1].c_str(), nullptr, 10))
                                     : seed;
    }
    if (calls <= 0 || retries < 0) {
        std::fprintf(stderr, "usage: %s [calls (50)] [seed] [--retries=N (%d)]\n", argv[0],
                     iax2::TransportLimits{}.maxRetries);
        return 2;
    }
    QCoreApplication app(argc, argv);
    test::EchoPeerProcess echo;
    if (echo.V2Port() == 0) {
        std::fprintf(stderr, "the echo service's version-2 side did not start\n");
        return 1;
    }
    Rig rig(echo.V2Port(), seed, retries);
    if (!rig.Open()) {
        std::fprintf(stderr, "no socket for the caller\n");
        return 1;
    }
    std::printf(
        "%d version-2 calls, µ-law, through 20 %% loss, 5 %% repeats and 5 %% reordering "
        "each way (relay seed %u); %d retries before a frame is given up\n",
        calls, seed, retries);
    std::vector<CallResult> results;
    size_t reportsSeen = 0;
    for (int i = 1; i <= calls; ++i) {
        CallResult result = rig.RunCall();
        if (result.connected) {
            const auto start = SteadyClock::now();
            while ((result.echoTook = EchoedByPeer(echo, &reportsSeen)) < 0 &&
                   MsSince(start) < 300) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                QCoreApplication::processEvents();
            }
        }
        PrintCall(i, result);
        results.push_back(result);
    }
    return Summarise(results, rig.relay());
}
