// What every capture device does, against the PulseAudio test server; each
// backend's own test file runs these on its device. Each test captures the
// monitor of a sink of its own: what is played into that sink is what the
// device captures.
#include "tests/platform/tone.h"
#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace velnar {
namespace {

using test::CaptureRig;
using test::CaptureTest;
using test::CaptureToneTest;
using test::kRigBufferBytes;
using test::kRigBuffers;
using test::WaitFor;

constexpr int16_t kToneAmplitude = 12000;
constexpr double kLoudRms = kToneAmplitude / 4.0;  // well above silence, below the tone's 8485

// A pure sine obeys x[n+1] = 2cos(w)x[n] - x[n-1]; a missing or repeated
// piece breaks that where the pieces meet. Returns the largest break.
double WorstSineBreak(std::span<const int16_t> samples, double frequencyHz)
{
    const double twoCos = 2 * std::cos(2 * std::numbers::pi * frequencyHz / test::kRateHz);
    double worst = 0;
    for (size_t n = 1; n + 1 < samples.size(); ++n)
        worst = std::max(worst, std::abs(samples[n + 1] - twoCos * samples[n] + samples[n - 1]));
    return worst;
}

TEST_P(CaptureTest, FullBuffersComeBackInQueueOrder)
{
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() >= 3 * kRigBuffers; }));

    const auto& returned = rig.ReturnedBuffers();
    for (size_t i = 0; i < returned.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(returned[i].header, &rig.Header(i % kRigBuffers));
        EXPECT_EQ(returned[i].bytesRecorded, kRigBufferBytes);
        EXPECT_EQ(returned[i].flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
    }
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

TEST_P(CaptureToneTest, ToneIsCapturedWholeAtItsFrequency)
{
    const double frequencyHz = std::get<1>(GetParam());
    constexpr size_t kToneSamples = 12000;  // 1.5 s
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);

    const std::vector<uint8_t> tone = test::SineBytes(frequencyHz, kToneSamples, kToneAmplitude);
    QByteArray pcm(reinterpret_cast<const char*>(tone.data()), qsizetype(tone.size()));
    pcm.append(QByteArray(8000, 0));  // and 0.5 s of silence after it
    test::PulsePlayer player(sink->Name(), pcm);
    ASSERT_TRUE(player.Started()) << "pacat did not start";

    // Wait until the tone has come and gone again.
    std::vector<int16_t> samples;
    size_t toneStart = 0;
    size_t toneEnd = 0;
    const bool heard = WaitFor(
        [&] {
            samples = test::ToSamples(
                std::span(reinterpret_cast<const uint8_t*>(rig.Captured().constData()),
                          static_cast<size_t>(rig.Captured().size())));
            toneStart = test::FindLoudRun(samples, 80, kLoudRms);
            if (toneStart == samples.size())
                return false;
            auto rest = std::span<const int16_t>(samples).subspan(toneStart);
            for (toneEnd = toneStart; toneEnd + 80 <= samples.size(); toneEnd += 80)
                if (test::Rms(rest.subspan(toneEnd - toneStart, 80)) < kLoudRms)
                    return true;
            return false;
        },
        20000);
    ASSERT_TRUE(heard) << "the tone never came back whole; captured " << samples.size()
                       << " samples";

    // Its length: nothing lost, nothing doubled, the rate is right.
    EXPECT_NEAR(double(toneEnd - toneStart), double(kToneSamples), 0.05 * kToneSamples);

    // Its frequency, away from the edges.
    auto middle =
        std::span<const int16_t>(samples).subspan(toneStart + 800, toneEnd - toneStart - 1600);
    EXPECT_NEAR(test::ZeroCrossingFrequencyHz(middle), frequencyHz, 0.02 * frequencyHz);
    EXPECT_GT(test::PowerAt(middle, frequencyHz), 100 * test::PowerAt(middle, frequencyHz * 1.37));

    EXPECT_LT(WorstSineBreak(middle, frequencyHz), 0.05 * kToneAmplitude);
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

// Buffers that do not match the device's 20-ms period (smaller, larger,
// odd) are filled whole frame by whole frame, each in turn, so that the
// sound runs on unbroken from one into the next.
TEST_P(CaptureTest, BuffersOfAnySizeCarryTheSoundUnbroken)
{
    constexpr double kFrequencyHz = 440;
    constexpr size_t kToneSamples = 8000;  // 1 s
    constexpr std::array<uint32_t, 6> kSizesBytes{100, 321, 1000, 58, 640, 2};
    std::unique_ptr<WaveIn> in = Backend().makeIn();
    std::vector<std::vector<uint8_t>> memory;
    std::array<WaveHeader, kSizesBytes.size()> headers{};
    QByteArray captured;
    size_t wrongLengths = 0;
    ASSERT_EQ(in->Open([&](WaveHeader* header) {
        if (header->bytesRecorded != (header->bufferLength & ~1u))
            ++wrongLengths;
        captured.append(reinterpret_cast<const char*>(header->data),
                        qsizetype(header->bytesRecorded));
        in->AddBuffer(header);
    }),
              WaveOk);
    for (size_t i = 0; i < headers.size(); ++i) {
        memory.emplace_back(kSizesBytes[i]);
        headers[i].data = memory.back().data();
        headers[i].bufferLength = kSizesBytes[i];
        ASSERT_EQ(in->Prepare(&headers[i]), WaveOk);
        ASSERT_EQ(in->AddBuffer(&headers[i]), WaveOk);
    }
    ASSERT_EQ(in->Start(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return captured.size() > 1000; })) << "no capture buffer came back";

    const std::vector<uint8_t> tone = test::SineBytes(kFrequencyHz, kToneSamples, kToneAmplitude);
    QByteArray pcm(reinterpret_cast<const char*>(tone.data()), qsizetype(tone.size()));
    pcm.append(QByteArray(8000, 0));
    test::PulsePlayer player(sink->Name(), pcm);
    ASSERT_TRUE(player.Started()) << "pacat did not start";
    std::vector<int16_t> samples;
    size_t toneStart = 0;
    const bool heard = WaitFor(
        [&] {
            samples =
                test::ToSamples(std::span(reinterpret_cast<const uint8_t*>(captured.constData()),
                                          static_cast<size_t>(captured.size())));
            toneStart = test::FindLoudRun(samples, 80, kLoudRms);
            return toneStart + kToneSamples + 800 < samples.size();
        },
        20000);
    ASSERT_TRUE(heard) << "the tone never came back; captured " << samples.size() << " samples";
    EXPECT_EQ(wrongLengths, 0u) << "buffers returned before they were full";
    auto middle = std::span<const int16_t>(samples).subspan(toneStart + 800, kToneSamples - 1600);
    EXPECT_LT(WorstSineBreak(middle, kFrequencyHz), 0.05 * kToneAmplitude);
    EXPECT_EQ(in->Reset(), WaveOk);
    EXPECT_EQ(in->Close(), WaveOk);
}

TEST_P(CaptureTest, StopThenResetReturnEveryBufferOnce)
{
    CaptureRig rig(Backend().makeIn());
    rig.requeue = false;
    StartAndWaitForSound(rig);
    ASSERT_EQ(rig.In().Stop(), WaveOk);
    ASSERT_EQ(rig.In().Reset(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() == kRigBuffers; }));

    std::array<int, kRigBuffers> seen{};
    for (const auto& r : rig.ReturnedBuffers()) {
        ++seen[r.header->user];
        EXPECT_EQ(r.flags & (WaveDone | WaveInQueue), uint32_t{WaveDone});
        EXPECT_LE(r.bytesRecorded, kRigBufferBytes);
        EXPECT_EQ(r.bytesRecorded % 2, 0u);
    }
    EXPECT_EQ(seen, (std::array<int, kRigBuffers>{1, 1, 1, 1, 1, 1, 1, 1}));
    for (size_t i = 0; i < kRigBuffers; ++i)
        EXPECT_EQ(rig.In().Unprepare(&rig.Header(i)), WaveOk);
}

TEST_P(CaptureTest, ResetReturnsTheQueueInOrderAndCaptureStartsAgain)
{
    CaptureRig rig(Backend().makeIn());
    rig.requeue = false;
    StartAndWaitForSound(rig);
    const size_t before = rig.ReturnedBuffers().size();
    ASSERT_EQ(rig.In().Reset(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() == kRigBuffers; }));
    const auto& returned = rig.ReturnedBuffers();
    for (size_t i = before; i < kRigBuffers; ++i)
        EXPECT_EQ(returned[i].header, &rig.Header(i)) << "queue order";

    // Started again, with the buffers queued again, capture goes on.
    rig.requeue = true;
    for (size_t i = 0; i < kRigBuffers; ++i)
        ASSERT_EQ(rig.In().AddBuffer(&rig.Header(i)), WaveOk);
    ASSERT_EQ(rig.In().Start(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() >= 2 * kRigBuffers; }));
    EXPECT_EQ(rig.ReturnedBuffers().back().bytesRecorded, kRigBufferBytes);
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

// Short calls one after another on one open device: every start must bring
// sound. (The bound is a safety net far above the expected 20-40 ms; a start
// that loses its stream waits for seconds.)
TEST_P(CaptureTest, EveryStartDeliversABuffer)
{
    constexpr int kStarts = 60;
    constexpr int kBoundMs = 500;
    CaptureRig rig(Backend().makeIn());
    rig.requeue = false;
    StartAndWaitForSound(rig);
    int withoutBuffer = 0;
    for (int start = 0; start < kStarts; ++start) {
        ASSERT_EQ(rig.In().Stop(), WaveOk);
        ASSERT_EQ(rig.In().Reset(), WaveOk);
        const size_t queuedSoFar = kRigBuffers * static_cast<size_t>(start + 1);
        ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() == queuedSoFar; }));
        WaitFor([] { return false; }, 20);  // a short pause between calls

        ASSERT_TRUE(rig.QueueAll());
        ASSERT_EQ(rig.In().Start(), WaveOk);
        const bool delivered = WaitFor(
            [&] {
                const auto& returned = rig.ReturnedBuffers();
                return returned.size() > queuedSoFar &&
                       returned[queuedSoFar].bytesRecorded == kRigBufferBytes;
            },
            kBoundMs);
        if (!delivered)
            ++withoutBuffer;
    }
    EXPECT_EQ(withoutBuffer, 0) << "of " << kStarts << " starts";
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

TEST_P(CaptureTest, NothingIsCalledBackAfterClose)
{
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);
    // Let completions pile up unhandled, then close with them posted and
    // buffers still queued.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t atClose = rig.ReturnedBuffers().size();
    ASSERT_EQ(rig.In().Close(), WaveOk);
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(rig.ReturnedBuffers().size(), atClose);
    for (size_t i = 0; i < kRigBuffers; ++i) {
        EXPECT_FALSE(rig.Header(i).flags & WaveInQueue);
        EXPECT_EQ(rig.In().Unprepare(&rig.Header(i)), WaveErrNotOpen);
    }
}

TEST_P(CaptureTest, DestroyedWhileCapturingWithoutClose)
{
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t atDestruction = rig.ReturnedBuffers().size();
    rig.Device().reset();
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(rig.ReturnedBuffers().size(), atDestruction);
}

TEST_P(CaptureTest, CallbackMayCloseOrDestroyTheDevice)
{
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroy" : "close");
        std::unique_ptr<WaveIn> in = Backend().makeIn();
        std::array<uint8_t, kRigBufferBytes * 2> memory{};
        std::array<WaveHeader, 2> headers{};
        int calls = 0;
        ASSERT_EQ(in->Open([&](WaveHeader*) {
            if (++calls > 1)
                return;
            if (destroy)
                in.reset();
            else
                EXPECT_EQ(in->Close(), WaveOk);
        }),
                  WaveOk);
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].data = memory.data() + i * kRigBufferBytes;
            headers[i].bufferLength = kRigBufferBytes;
            ASSERT_EQ(in->Prepare(&headers[i]), WaveOk);
            ASSERT_EQ(in->AddBuffer(&headers[i]), WaveOk);
        }
        ASSERT_EQ(in->Start(), WaveOk);
        ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
        WaitFor([] { return false; }, 200);
        EXPECT_EQ(calls, 1);
    }
}

TEST_P(CaptureTest, GoesOnAfterTheEventLoopStalls)
{
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);
    // Keep the event loop away from the device for longer than its buffer.
    // (The sound server keeps what the device could not take, so this
    // overruns only devices that have no such store behind them.)
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const size_t before = rig.ReturnedBuffers().size();
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() >= before + 3 * kRigBuffers; }));
    EXPECT_EQ(rig.ReturnedBuffers().back().bytesRecorded, kRigBufferBytes);
    EXPECT_EQ(rig.In().Reset(), WaveOk);
}

TEST_P(CaptureTest, VanishedSourceStopsDeliveryAndBuffersStillComeBack)
{
    test::PrivateAudioServer server;
    ASSERT_TRUE(server.Running()) << "could not start a private audio server";
    CaptureRig rig(Backend().makeIn());
    StartAndWaitForSound(rig);

    server.Kill();
    ASSERT_TRUE(WaitFor([&] { return test::IsFailed(rig.In()); }))
        << "the device did not notice that its source went away";
    const size_t atFailure = rig.ReturnedBuffers().size();
    EXPECT_LT(test::CpuMsWhileWaiting(500), 100) << "a failed device must not spin";
    EXPECT_EQ(rig.ReturnedBuffers().size(), atFailure) << "a failed device delivers nothing";

    rig.requeue = false;
    ASSERT_EQ(rig.In().Reset(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() == atFailure + kRigBuffers; }));
    for (size_t i = 0; i < kRigBuffers; ++i)
        EXPECT_EQ(rig.In().Unprepare(&rig.Header(i)), WaveOk);

    // With no server to reach, the next Start cannot open the device again.
    ASSERT_TRUE(rig.QueueAll());
    EXPECT_EQ(rig.In().Start(), WaveErrDevice);
    EXPECT_EQ(rig.In().Close(), WaveOk);

    // Once a server is back, the device opens again and captures.
    test::PrivateAudioServer again;
    ASSERT_TRUE(again.Running());
    const size_t beforeReopen = rig.ReturnedBuffers().size();
    rig.requeue = true;
    ASSERT_EQ(rig.Open(), WaveOk);
    ASSERT_TRUE(rig.QueueAll());
    ASSERT_EQ(rig.In().Start(), WaveOk);
    ASSERT_TRUE(WaitFor([&] {
        return rig.ReturnedBuffers().size() >= beforeReopen + 2 * kRigBuffers;
    })) << "no capture after reopening";
    EXPECT_EQ(rig.ReturnedBuffers().back().bytesRecorded, kRigBufferBytes);
    EXPECT_EQ(rig.In().Close(), WaveOk);
}

}  // namespace
}  // namespace velnar
