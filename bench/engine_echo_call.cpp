// Measures an echo call of the phone engine on the test audio server
// (source tools/test-audio-env.sh first): the echo peer program answers and
// sends every voice frame back.
//
//   velnar_engine_echo_call latency [clicks]   mouth-to-ear delay of bursts
//   velnar_engine_echo_call cpu [seconds]      the process's CPU use while a
//                                              tone is talked through (default 30)
//   velnar_engine_echo_call cpu-engine [seconds]  the same with in-memory
//                                              devices clocked every 20 ms: the
//                                              engine, library and codec alone
//   velnar_engine_echo_call cpu-devices [seconds] the ALSA devices alone, every
//                                              captured buffer played straight
//                                              back: what the sound path costs
//                                              without engine and network
//
// The tone player feeds "mic" with a 10-ms latency, which makes the test
// server deliver capture in the 20-ms rhythm of a sound card (longer player
// latencies deliver in bursts). VELNAR_BENCH_MIC_LATENCY_MS changes it.
//
// Latency: bursts of a 1000-Hz tone are played at once into the "mic" and
// the "speaker" sinks (a combined sink, loaded for the run); the recording
// of "speaker.monitor" then holds each burst on its left channel and the
// echo on its right one, and the delay is the distance between their onsets,
// on one clock. The noise gate withholds the silence between bursts, so the
// playback queue runs dry and waits for four blocks before it plays: bursts
// last 200 ms to get past that.
#include "engine/iax_phone.h"
#include "platform/fake_wave_device.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <numbers>
#include <string>
#include <vector>

using namespace velnar;

namespace {

constexpr int kRate = 8000;

using SteadyClock = std::chrono::steady_clock;

bool IsLoud(const uint8_t* pcm, uint32_t bytes) {
    for (uint32_t i = 0; i + 1 < bytes; i += 2)
        if (std::abs(int16_t(pcm[i] | (pcm[i + 1] << 8))) > 3000)
            return true;
    return false;
}

// When loud sound passes each stage, on the process's clock: the first loud
// capture buffer after quiet, its first loud playback block, the restart that
// ends the pre-fill.
struct StageLog {
    std::vector<SteadyClock::time_point> captured, written, restarted;
    bool captureQuiet = true, playbackQuiet = true;
};

// Pass-through devices that note the stages.
class TimedWaveIn : public WaveIn {
public:
    TimedWaveIn(std::unique_ptr<WaveIn> device, StageLog& log) : m_device(std::move(device)), m_log(log) {}
    int Open(DoneFn onDone) override {
        return m_device->Open([this, onDone](WaveHeader* header) {
            bool loud = IsLoud(header->data, header->bytesRecorded);
            if (loud && m_log.captureQuiet)
                m_log.captured.push_back(SteadyClock::now());
            m_log.captureQuiet = !loud;
            onDone(header);
        });
    }
    int Prepare(WaveHeader* h) override { return m_device->Prepare(h); }
    int Unprepare(WaveHeader* h) override { return m_device->Unprepare(h); }
    int AddBuffer(WaveHeader* h) override { return m_device->AddBuffer(h); }
    int Start() override { return m_device->Start(); }
    int Stop() override { return m_device->Stop(); }
    int Reset() override { return m_device->Reset(); }
    int Close() override { return m_device->Close(); }

private:
    std::unique_ptr<WaveIn> m_device;
    StageLog& m_log;
};

class TimedWaveOut : public WaveOut {
public:
    TimedWaveOut(std::unique_ptr<WaveOut> device, StageLog& log) : m_device(std::move(device)), m_log(log) {}
    int Open() override { return m_device->Open(); }
    int Prepare(WaveHeader* h) override { return m_device->Prepare(h); }
    int Unprepare(WaveHeader* h) override { return m_device->Unprepare(h); }
    int Write(WaveHeader* h) override {
        bool loud = IsLoud(h->data, h->bufferLength);
        if (loud && m_log.playbackQuiet)
            m_log.written.push_back(SteadyClock::now());
        m_log.playbackQuiet = !loud;
        return m_device->Write(h);
    }
    int Pause() override { return m_device->Pause(); }
    int Restart() override {
        m_log.restarted.push_back(SteadyClock::now());
        return m_device->Restart();
    }
    int Reset() override { return m_device->Reset(); }
    int Close() override { return m_device->Close(); }

private:
    std::unique_ptr<WaveOut> m_device;
    StageLog& m_log;
};

class PrintingOwner : public PhoneOwner {
public:
    void ShowStatus(const std::string& text) override {
        std::printf("status: %s\n", text.c_str());
        std::fflush(stdout);
        last = text;
    }
    std::string last;
};

// Runs the event loop idle for that long: the measurement must not spin.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QStringList RawFormat(int channels = 1) {
    const char* latency = std::getenv("VELNAR_BENCH_MIC_LATENCY_MS");
    return {"--format=s16le", "--rate=8000", "--channels=" + QString::number(channels), "--raw",
            QString("--latency-msec=") + (latency && std::atoi(latency) > 0 ? latency : "10")};
}

// Starts the echo peer and returns its port (0 on failure).
uint16_t StartEchoPeer(QProcess& peer) {
    peer.start(VELNAR_ECHO_PEER, {"--port", "0", "--answer-delay-ms", "0", "--quiet"});
    if (!peer.waitForStarted(5000) || !peer.waitForReadyRead(5000))
        return 0;
    QString line = QString::fromUtf8(peer.readLine());
    int colon = line.indexOf(':');
    int semicolon = line.indexOf(';');
    return colon > 0 && semicolon > colon
               ? uint16_t(line.mid(colon + 1, semicolon - colon - 1).toUInt())
               : 0;
}

std::vector<int16_t> Tone(double seconds, double amplitude) {
    std::vector<int16_t> samples(size_t(seconds * kRate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(amplitude * std::sin(2 * std::numbers::pi * 1000.0 * double(i) / kRate));
    return samples;
}

// Bursts of 200 ms, one per second, after half a second of silence.
std::vector<int16_t> BurstTrain(int bursts) {
    std::vector<int16_t> samples(size_t(kRate / 2), 0);
    auto burst = Tone(0.2, 16000);
    for (int i = 0; i < bursts; ++i) {
        samples.insert(samples.end(), burst.begin(), burst.end());
        samples.insert(samples.end(), size_t(kRate * 0.8), 0);
    }
    return samples;
}

// Stereo with the samples on the left and silence on the right.
std::vector<int16_t> LeftOnly(const std::vector<int16_t>& mono) {
    std::vector<int16_t> stereo(mono.size() * 2, 0);
    for (size_t i = 0; i < mono.size(); ++i)
        stereo[2 * i] = mono[i];
    return stereo;
}

// Sample indexes (per channel) where one channel of interleaved PCM rises
// above the level after 100 ms quiet.
std::vector<size_t> Onsets(const QByteArray& bytes, int channels = 1, int channel = 0) {
    const auto* samples = reinterpret_cast<const int16_t*>(bytes.constData());
    size_t frames = size_t(bytes.size()) / 2 / size_t(channels);
    std::vector<size_t> onsets;
    size_t quiet = 0;
    for (size_t i = 0; i < frames; ++i) {
        if (std::abs(samples[i * size_t(channels) + size_t(channel)]) > 3000) {
            if (quiet >= kRate / 10)
                onsets.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}

bool PlaceEchoCall(CIaxPhone& phone, PrintingOwner& owner, QProcess& peer) {
    uint16_t port = StartEchoPeer(peer);
    if (port == 0) {
        std::fprintf(stderr, "echo peer did not start\n");
        return false;
    }
    phone.Dial("127.0.0.1:" + std::to_string(port) + "/100");
    RunFor(1000);
    return owner.last == "Connected";
}

double MsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The first entry at or after the instant, or the instant itself.
SteadyClock::time_point FirstFrom(const std::vector<SteadyClock::time_point>& times,
                                  SteadyClock::time_point instant) {
    auto it = std::lower_bound(times.begin(), times.end(), instant);
    return it == times.end() ? instant : *it;
}

// Runs pactl against the test server; its output (a module index) or "".
QString Pactl(const QStringList& arguments) {
    QProcess pactl;
    pactl.start("pactl", arguments);
    pactl.waitForFinished(5000);
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

// Each direct onset paired with the first echo onset after it.
std::vector<double> EchoDelaysMs(const std::vector<size_t>& direct,
                                 const std::vector<size_t>& echoed) {
    std::vector<double> delays;
    for (size_t onset : direct) {
        auto echo = std::lower_bound(echoed.begin(), echoed.end(), onset);
        if (echo != echoed.end() && *echo - onset < size_t(kRate / 2))
            delays.push_back(double(*echo - onset) * 1000.0 / kRate);
    }
    return delays;
}

// The engine's own share of each burst's trip, on the process's clock.
void PrintEngineStages(const StageLog& log) {
    for (auto captured : log.captured) {
        auto written = FirstFrom(log.written, captured);
        auto restarted = FirstFrom(log.restarted, written);
        std::printf("  engine: capture done -> first block written %.1f ms (network and jitter "
                    "buffer), -> playback resumed %.1f ms (pre-fill)\n",
                    MsBetween(captured, written), MsBetween(written, restarted));
    }
}

// Each burst goes at once into "mic" and "speaker" through a combined sink,
// on the left channel only; the phone plays its echo on both. The left
// channel of the speaker's recording thus holds the burst, the right one its
// echo, on one clock.
int MeasureLatency(CIaxPhone& phone, PrintingOwner& owner, QProcess& peer, StageLog& log,
                   int bursts) {
    if (!PlaceEchoCall(phone, owner, peer))
        return 1;
    QString module = Pactl({"load-module", "module-combine-sink", "sink_name=velnar_bench_both",
                            "slaves=mic,speaker"});
    QProcess recorder, player;
    recorder.start("pacat", QStringList{"--record", "--device=speaker.monitor"} + RawFormat(2));
    RunFor(500);
    player.start("pacat", QStringList{"--playback", "--device=velnar_bench_both"} + RawFormat(2));
    player.waitForStarted(5000);
    auto train = LeftOnly(BurstTrain(bursts));
    player.write(reinterpret_cast<const char*>(train.data()), qint64(train.size() * 2));
    player.closeWriteChannel();
    RunFor(1000 * bursts + 1500);
    QByteArray recording = recorder.readAllStandardOutput();
    auto delaysMs = EchoDelaysMs(Onsets(recording, 2, 0), Onsets(recording, 2, 1));
    for (QProcess* process : {&recorder, &player}) {
        process->kill();
        process->waitForFinished(2000);
    }
    if (!module.isEmpty())
        Pactl({"unload-module", module});
    for (double delay : delaysMs)
        std::printf("burst: %.1f ms from mouth to ear\n", delay);
    PrintEngineStages(log);
    if (delaysMs.empty()) {
        std::printf("no burst came back\n");
        return 1;
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    std::printf("mouth-to-ear latency: median %.1f ms, min %.1f ms, max %.1f ms over %zu bursts\n",
                delaysMs[delaysMs.size() / 2], delaysMs.front(), delaysMs.back(), delaysMs.size());
    return 0;
}

// Plays a tone into "mic" for the measurement's length. The player reads the
// samples from a file of its own: fed through a pipe, this process would wake
// up whenever the player takes more, and that work would count as the phone's.
class TonePlayer {
public:
    bool Start(int seconds) {
        auto samples = Tone(seconds + 2, 8000);
        const auto bytes = qint64(samples.size() * 2);
        if (m_file.open() && m_file.write(reinterpret_cast<const char*>(samples.data()), bytes) == bytes
            && m_file.flush()) {
            m_player.setStandardInputFile(QProcess::nullDevice());
            m_player.setStandardOutputFile(QProcess::nullDevice());
            m_player.setStandardErrorFile(QProcess::nullDevice());
            m_player.start("pacat", QStringList{"--playback", "--device=mic"} + RawFormat()
                                        << m_file.fileName());
            if (m_player.waitForStarted(5000))
                return true;
        }
        std::fprintf(stderr, "tone player did not start\n");
        return false;
    }
    ~TonePlayer() {
        m_player.kill();
        m_player.waitForFinished(2000);
    }

private:
    QProcess m_player;
    QTemporaryFile m_file;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each thread of the process, by thread id, with its name.
std::map<std::string, std::pair<std::string, double>> ThreadCpuSeconds() {
    std::map<std::string, std::pair<std::string, double>> threads;
    const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    for (const QString& id : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/self/task/" + id + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The name is in parentheses and may hold spaces; utime and stime
        // are the 12th and 13th fields after it.
        QString line = QString::fromUtf8(stat.readAll());
        qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        QStringList fields = line.mid(close + 2).split(' ');
        if (open < 0 || close < open || fields.size() < 13)
            continue;
        threads[id.toStdString()] = {line.mid(open + 1, close - open - 1).toStdString(),
                                     (fields[11].toDouble() + fields[12].toDouble()) / ticksPerSecond};
    }
    return threads;
}

// Runs the event loop for that long and prints the process's CPU use, and
// each thread's share (the sound server's client library runs threads of
// its own).
void MeasureCpuFor(int seconds, const char* what) {
    double cpuBefore = CpuSeconds();
    auto threadsBefore = ThreadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    RunFor(seconds * 1000);
    double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu = CpuSeconds() - cpuBefore;
    for (const auto& [id, thread] : ThreadCpuSeconds()) {
        auto before = threadsBefore.find(id);
        double used = thread.second - (before == threadsBefore.end() ? 0.0 : before->second.second);
        std::printf("  thread %s (%s): %.2f%%\n", id.c_str(), thread.first.c_str(),
                    100.0 * used / wallSeconds);
    }
    std::printf("CPU: %.3f s over %.1f s of %s = %.2f%% of one core\n", cpu, wallSeconds, what,
                100.0 * cpu / wallSeconds);
}

int MeasureCpu(CIaxPhone& phone, PrintingOwner& owner, QProcess& peer, int seconds) {
    if (!PlaceEchoCall(phone, owner, peer))
        return 1;
    TonePlayer player;
    if (!player.Start(seconds))
        return 1;
    RunFor(500);
    MeasureCpuFor(seconds, "echo call");
    return owner.last == "Connected" ? 0 : 1;
}

// In-memory devices clocked like a sound card: every 20 ms one tone buffer
// is captured and one block is played.
int MeasureEngineCpu(int seconds) {
    PrintingOwner owner;
    auto waveIn = std::make_unique<FakeWaveIn>();
    auto waveOut = std::make_unique<FakeWaveOut>();
    FakeWaveIn* in = waveIn.get();
    FakeWaveOut* out = waveOut.get();
    CIaxPhone phone(owner, std::move(waveIn), std::move(waveOut), -1);
    QProcess peer;
    if (!PlaceEchoCall(phone, owner, peer))
        return 1;
    auto tone = Tone(0.02, 8000);
    std::vector<uint8_t> buffer(reinterpret_cast<const uint8_t*>(tone.data()),
                                reinterpret_cast<const uint8_t*>(tone.data()) + tone.size() * 2);
    QTimer period;
    period.setTimerType(Qt::PreciseTimer);
    QObject::connect(&period, &QTimer::timeout, [&] {
        in->Deliver(buffer);
        out->PlayN(1);
    });
    period.start(20);
    RunFor(500);
    MeasureCpuFor(seconds, "echo call on in-memory devices");
    std::printf("%zu blocks played\n", out->Written().size());
    peer.kill();
    peer.waitForFinished(2000);
    return owner.last == "Connected" ? 0 : 1;
}

// Capture straight into playback, as the phone's devices run in a call,
// with eight capture buffers and playback blocks reclaimed once done.
int MeasureDeviceCpu(int seconds) {
    constexpr uint32_t kBlockBytes = 320;
    auto in = MakeAlsaWaveIn();
    auto out = MakeAlsaWaveOut();
    std::vector<std::vector<uint8_t>> memory(8, std::vector<uint8_t>(kBlockBytes));
    std::vector<WaveHeader> headers(memory.size());
    struct Block {
        std::vector<uint8_t> samples;
        WaveHeader header;
    };
    std::deque<Block> playing;
    size_t played = 0;
    int rc = in->Open([&](WaveHeader* header) {
        while (!playing.empty() && (playing.front().header.flags & WaveDone)) {
            out->Unprepare(&playing.front().header);
            playing.pop_front();
            ++played;
        }
        Block& block = playing.emplace_back();
        block.samples.assign(header->data, header->data + header->bytesRecorded);
        block.header.data = block.samples.data();
        block.header.bufferLength = uint32_t(block.samples.size());
        if (block.header.bufferLength == 0 || out->Prepare(&block.header) != WaveOk
            || out->Write(&block.header) != WaveOk)
            playing.pop_back();
        header->bytesRecorded = 0;
        in->AddBuffer(header);
    });
    if (rc != WaveOk || out->Open() != WaveOk) {
        std::fprintf(stderr, "cannot open the sound devices\n");
        return 1;
    }
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = memory[i].data();
        headers[i].bufferLength = kBlockBytes;
        in->Prepare(&headers[i]);
        in->AddBuffer(&headers[i]);
    }
    TonePlayer player;
    if (!player.Start(seconds) || in->Start() != WaveOk)
        return 1;
    RunFor(500);
    MeasureCpuFor(seconds, "capture played straight back");
    std::printf("%zu blocks played\n", played);
    in->Reset();
    out->Reset();
    in->Close();
    out->Close();
    return played > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string mode = argc > 1 ? argv[1] : "";
    int amount = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "cpu-engine")
        return MeasureEngineCpu(amount > 0 ? amount : 30);
    if ((mode != "latency" && mode != "cpu" && mode != "cpu-devices")
        || !std::getenv("PULSE_SERVER")) {
        std::fprintf(stderr, "usage: %s latency [bursts] | cpu [seconds] | cpu-engine [seconds]"
                             " | cpu-devices [seconds]\n"
                             "(needs the test audio server: source tools/test-audio-env.sh)\n",
                     argv[0]);
        return 2;
    }
    if (mode == "cpu-devices")
        return MeasureDeviceCpu(amount > 0 ? amount : 30);
    PrintingOwner owner;
    StageLog log;
    CIaxPhone phone(owner, std::make_unique<TimedWaveIn>(MakeAlsaWaveIn(), log),
                    std::make_unique<TimedWaveOut>(MakeAlsaWaveOut(), log), -1);
    phone.m_nNoiseThreshold = 1;
    QProcess peer;
    int result = mode == "latency"
                     ? MeasureLatency(phone, owner, peer, log, amount > 0 ? amount : 5)
                     : MeasureCpu(phone, owner, peer, amount > 0 ? amount : 30);
    peer.kill();
    peer.waitForFinished(2000);
    return result;
}
