// Measures how regularly the capture device delivers its 20-ms buffers:
//   velnar_capture_cadence [seconds] [pcm-name]
// runs capture on ALSA's "default" PCM (or the one named) with eight queued
// buffers, requeued as they come back, as the phone does during a call, and
// prints how long the first buffer took, then, from the first delivery on,
// the buffers per second, the mean and the largest gap between two
// deliveries, and how many buffers were short. (A sound server may take a
// while to start a stream; that start-up is reported apart so that it does
// not hide the rhythm.)
//
//   velnar_capture_cadence --starts N [call-ms [gap-ms [pcm-name]]]
// opens the device once and, gap-ms later, starts and stops capture N times,
// as the phone does from call to call (Start; call-ms of capture with the
// buffers requeued; Stop and Reset; gap-ms idle), and prints how long each start
// took to deliver its first buffer (the first start apart, then the median
// and the largest over all) and how many starts delivered no buffer at all.
// Defaults: 1000 ms calls, 200 ms apart. The pcm-name "pulse" measures the
// sound-server device instead of an ALSA PCM.
#include "platform/alsa/alsa_wave_device.h"
#include "platform/pulse/pulse_wave_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBufferCount = 8;
constexpr uint32_t kBufferBytes = 320;

struct Stats {
    std::vector<qint64> arrivalsNs;
    size_t shortBuffers = 0;
};

void Report(const Stats& stats, double seconds)
{
    const auto& t = stats.arrivalsNs;
    if (t.size() < 2) {
        std::printf("buffers: %zu in %.1f s (too few to measure)\n", t.size(), seconds);
        return;
    }
    qint64 largestGapNs = 0;
    for (size_t i = 1; i < t.size(); ++i)
        largestGapNs = std::max(largestGapNs, t[i] - t[i - 1]);
    const double spanS = double(t.back() - t.front()) / 1e9;
    const double meanGapMs = spanS * 1e3 / double(t.size() - 1);
    std::printf("first buffer after: %.1f ms\n", double(t.front()) / 1e6);
    std::printf("buffers: %zu in %.1f s\n", t.size(), seconds);
    std::printf("buffers per second (from the first): %.2f\n", double(t.size() - 1) / spanS);
    std::printf("mean gap: %.2f ms\n", meanGapMs);
    std::printf("largest gap: %.2f ms\n", double(largestGapNs) / 1e6);
    std::printf("short buffers: %zu\n", stats.shortBuffers);
}

// Runs the event loop for the given time.
void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

int RepeatedStarts(int starts, int callMs, int gapMs, const std::string& pcmName)
{
    auto in = pcmName == "pulse" ? velnar::MakePulseWaveIn() : velnar::MakeAlsaWaveIn(pcmName);
    std::array<std::array<uint8_t, kBufferBytes>, kBufferCount> memory{};
    std::array<velnar::WaveHeader, kBufferCount> headers{};
    QElapsedTimer clock;
    bool accepting = false;
    qint64 firstNs = -1;

    const int rc = in->Open([&](velnar::WaveHeader* header) {
        // Completions of the buffers that Reset hands back are posted and
        // arrive after the call: they count for nothing.
        if (!accepting || header->bytesRecorded != header->bufferLength)
            return;
        if (firstNs < 0)
            firstNs = clock.nsecsElapsed();
        in->AddBuffer(header);
    });
    if (rc != velnar::WaveOk) {
        std::fprintf(stderr, "cannot open capture device \"%s\" (error %d)\n", pcmName.c_str(), rc);
        return 1;
    }
    for (size_t i = 0; i < kBufferCount; ++i) {
        headers[i].data = memory[i].data();
        headers[i].bufferLength = kBufferBytes;
    }

    std::vector<double> firstMs;  // per start that delivered
    double firstStartMs = -1;
    int withoutBuffer = 0;
    int failedStarts = 0;
    // The phone opens its devices at start-up, a while before its first call.
    RunFor(gapMs);
    for (int start = 0; start < starts; ++start) {
        for (velnar::WaveHeader& header : headers) {
            in->Unprepare(&header);
            in->Prepare(&header);
            in->AddBuffer(&header);
        }
        firstNs = -1;
        accepting = true;
        clock.start();
        if (in->Start() != velnar::WaveOk)
            ++failedStarts;
        RunFor(callMs);
        accepting = false;
        in->Stop();
        in->Reset();
        if (firstNs < 0) {
            ++withoutBuffer;
            std::printf("start %d: no buffer in %d ms\n", start + 1, callMs);
        } else {
            firstMs.push_back(double(firstNs) / 1e6);
        }
        if (start == 0)
            firstStartMs = firstNs < 0 ? -1 : double(firstNs) / 1e6;
        RunFor(gapMs);
    }
    in->Close();

    std::printf("starts: %d (%d ms calls, %d ms apart)\n", starts, callMs, gapMs);
    std::printf("starts without any buffer: %d\n", withoutBuffer);
    std::printf("starts refused: %d\n", failedStarts);
    if (firstStartMs >= 0)
        std::printf("first start's first buffer after: %.1f ms\n", firstStartMs);
    if (!firstMs.empty()) {
        std::sort(firstMs.begin(), firstMs.end());
        std::printf("first buffer after start: median %.1f ms, max %.1f ms\n",
                    firstMs[firstMs.size() / 2], firstMs.back());
        const auto late =
            std::count_if(firstMs.begin(), firstMs.end(), [](double ms) { return ms > 40.0; });
        std::printf("starts whose first buffer took over 40 ms: %ld\n", long(late));
    }
    return withoutBuffer == 0 && failedStarts == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--starts") == 0) {
        const int starts = argc > 2 ? std::atoi(argv[2]) : 0;
        const int callMs = argc > 3 ? std::atoi(argv[3]) : 1000;
        const int gapMs = argc > 4 ? std::atoi(argv[4]) : 200;
        if (starts <= 0 || callMs <= 0 || gapMs < 0) {
            std::fprintf(stderr, "usage: %s --starts N [call-ms [gap-ms [pcm-name]]]\n", argv[0]);
            return 2;
        }
        return RepeatedStarts(starts, callMs, gapMs, argc > 5 ? argv[5] : "default");
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const std::string pcmName = argc > 2 ? argv[2] : "default";
    if (seconds <= 0) {
        std::fprintf(stderr,
                     "usage: %s [seconds] [pcm-name]\n"
                     "       %s --starts N [call-ms [gap-ms [pcm-name]]]\n",
                     argv[0], argv[0]);
        return 2;
    }

    auto in = velnar::MakeAlsaWaveIn(pcmName);
    std::array<std::array<uint8_t, kBufferBytes>, kBufferCount> memory{};
    std::array<velnar::WaveHeader, kBufferCount> headers{};
    Stats stats;
    QElapsedTimer clock;
    bool measuring = true;

    const int rc = in->Open([&](velnar::WaveHeader* header) {
        if (!measuring)
            return;
        stats.arrivalsNs.push_back(clock.nsecsElapsed());
        if (header->bytesRecorded != header->bufferLength)
            ++stats.shortBuffers;
        in->AddBuffer(header);
    });
    if (rc != velnar::WaveOk) {
        std::fprintf(stderr, "cannot open capture device \"%s\" (error %d)\n", pcmName.c_str(), rc);
        return 1;
    }
    for (size_t i = 0; i < kBufferCount; ++i) {
        headers[i].data = memory[i].data();
        headers[i].bufferLength = kBufferBytes;
        in->Prepare(&headers[i]);
        in->AddBuffer(&headers[i]);
    }
    clock.start();
    if (in->Start() != velnar::WaveOk) {
        std::fprintf(stderr, "cannot start capture\n");
        return 1;
    }
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &app, [&] {
        measuring = false;
        in->Reset();
        app.quit();
    });
    app.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    in->Close();
    Report(stats, elapsed);
    return 0;
}
