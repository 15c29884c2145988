// Measures how regularly the capture device delivers its 20-ms buffers:
//   velnar_capture_cadence [seconds] [pcm-name]
// runs capture on ALSA's "default" PCM (or the one named) with eight queued
// buffers, requeued as they come back, as the phone does during a call, and
// prints how long the first buffer took, then, from the first delivery on,
// the buffers per second, the mean and the largest gap between two
// deliveries, and how many buffers were short. (A sound server may take a
// while to start a stream; that start-up is reported apart so that it does
// not hide the rhythm.)
#include "platform/alsa_wave_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const std::string pcmName = argc > 2 ? argv[2] : "default";
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds] [pcm-name]\n", argv[0]);
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
