// What every playback device does, against the PulseAudio test server;
// each backend's own test file runs these on its device. Each test plays
// into a sink of its own and records that sink's monitor.
#include "tests/platform/tone.h"
#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <ostream>
#include <span>
#include <vector>

namespace velnar {
namespace {

using test::PauseTest;
using test::PlaybackTest;
using test::PlayOutPauseTest;
using test::WaitFor;

constexpr uint32_t kBlockBytes = 320;
constexpr size_t kBlockSamples = kBlockBytes / 2;
constexpr int16_t kToneAmplitude = 12000;
constexpr double kLoudRms = kToneAmplitude / 4.0;

// Consecutive 20-ms blocks of one continuous tone.
class ToneBlocks {
public:
    ToneBlocks(size_t count, double frequencyHz)
        : m_pcm(test::SineBytes(frequencyHz, count * kBlockSamples, kToneAmplitude)),
          m_headers(count)
    {
        for (size_t i = 0; i < count; ++i) {
            m_headers[i].data = m_pcm.data() + i * kBlockBytes;
            m_headers[i].bufferLength = kBlockBytes;
        }
    }
    size_t Count() const { return m_headers.size(); }
    WaveHeader& operator[](size_t i) { return m_headers[i]; }
    size_t DoneCount() const
    {
        return size_t(std::count_if(m_headers.begin(), m_headers.end(),
                                    [](const WaveHeader& h) { return (h.flags & WaveDone) != 0; }));
    }
    bool AllDone() const { return DoneCount() == Count(); }
    // Prepares and writes blocks [from, to).
    void Write(WaveOut& out, size_t from, size_t to)
    {
        for (size_t i = from; i < to; ++i) {
            ASSERT_EQ(out.Prepare(&m_headers[i]), WaveOk);
            ASSERT_EQ(out.Write(&m_headers[i]), WaveOk);
        }
    }

private:
    std::vector<uint8_t> m_pcm;
    std::vector<WaveHeader> m_headers;
};

std::vector<int16_t> Samples(const QByteArray& bytes)
{
    return test::ToSamples(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                     static_cast<size_t>(bytes.size())));
}

// Number of 10-ms stretches at the tone's level, counted from `fromByte`.
size_t LoudStretches(const QByteArray& recorded, qsizetype fromByte)
{
    const std::vector<int16_t> samples = Samples(recorded.mid(fromByte));
    size_t loud = 0;
    for (size_t i = 0; i + 80 <= samples.size(); i += 80)
        if (test::Rms(std::span(samples).subspan(i, 80)) > kLoudRms)
            ++loud;
    return loud;
}

TEST_P(PlaybackTest, WrittenBlocksAreHeardAtTheirFrequencyForTheirLength)
{
    constexpr double kFrequencyHz = 440;
    StartRecorder();
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    ToneBlocks blocks(50, kFrequencyHz);  // 1 s
    const qsizetype start = recorder->Bytes().size();
    blocks.Write(*out, 0, blocks.Count());
    ASSERT_TRUE(WaitFor([&] { return blocks.AllDone(); })) << blocks.DoneCount() << " blocks done";
    ASSERT_TRUE(RecordFor(500));

    EXPECT_NEAR(double(LoudStretches(recorder->Bytes(), start)), 100.0, 5.0)
        << "1 s of tone in 10-ms stretches";
    const std::vector<int16_t> heard = Samples(recorder->Bytes().mid(start));
    const size_t toneStart = test::FindLoudRun(heard, 80, kLoudRms);
    ASSERT_LT(toneStart + 8000, heard.size());
    auto middle = std::span<const int16_t>(heard).subspan(toneStart + 800, 6400);
    EXPECT_NEAR(test::ZeroCrossingFrequencyHz(middle), kFrequencyHz, 0.02 * kFrequencyHz);
    EXPECT_GT(test::PowerAt(middle, kFrequencyHz),
              100 * test::PowerAt(middle, 1.37 * kFrequencyHz));
    for (size_t i = 0; i < blocks.Count(); ++i)
        EXPECT_EQ(out->Unprepare(&blocks[i]), WaveOk);
    EXPECT_EQ(out->Close(), WaveOk);
}

// Blocks that do not match the device's 20-ms period are played back to
// back: the tone they carry is heard unbroken where they meet.
TEST_P(PlaybackTest, BlocksOfAnySizePlayUnbroken)
{
    constexpr double kFrequencyHz = 440;
    constexpr size_t kToneSamples = 8000;  // 1 s
    constexpr std::array<uint32_t, 6> kSizesBytes{100, 642, 58, 320, 2, 1000};
    StartRecorder();
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    std::vector<uint8_t> tone = test::SineBytes(kFrequencyHz, kToneSamples, kToneAmplitude);
    std::vector<WaveHeader> headers;
    for (size_t offset = 0, i = 0; offset < tone.size();
         offset += headers.back().bufferLength, ++i) {
        WaveHeader header;
        header.data = tone.data() + offset;
        header.bufferLength =
            uint32_t(std::min<size_t>(kSizesBytes[i % kSizesBytes.size()], tone.size() - offset));
        headers.push_back(header);
    }
    const qsizetype start = recorder->Bytes().size();
    for (WaveHeader& header : headers) {
        ASSERT_EQ(out->Prepare(&header), WaveOk);
        ASSERT_EQ(out->Write(&header), WaveOk);
    }
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(headers.begin(), headers.end(),
                           [](const WaveHeader& h) { return (h.flags & WaveDone) != 0; });
    }));
    ASSERT_TRUE(RecordFor(500));

    const std::vector<int16_t> heard = Samples(recorder->Bytes().mid(start));
    const size_t toneStart = test::FindLoudRun(heard, 80, kLoudRms);
    ASSERT_LT(toneStart + kToneSamples, heard.size()) << "the tone was not heard whole";
    auto middle = std::span<const int16_t>(heard).subspan(toneStart + 800, kToneSamples - 1600);
    // A pure sine obeys x[n+1] = 2cos(w)x[n] - x[n-1]; a lost or repeated
    // piece breaks that where the blocks meet.
    const double twoCos = 2 * std::cos(2 * std::numbers::pi * kFrequencyHz / test::kRateHz);
    double worst = 0;
    for (size_t n = 1; n + 1 < middle.size(); ++n)
        worst = std::max(worst, std::abs(middle[n + 1] - twoCos * middle[n] + middle[n - 1]));
    EXPECT_LT(worst, 0.05 * kToneAmplitude);
    EXPECT_EQ(out->Close(), WaveOk);
}

TEST_P(PauseTest, PauseHoldsAndRestartResumes)
{
    StartRecorder();
    auto out = GetParam().backend.makeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    ToneBlocks blocks(20, 440);

    // Paused before the first block, as the phone does to pre-fill.
    ASSERT_EQ(out->Pause(), WaveOk);
    const qsizetype pausedFrom = recorder->Bytes().size();
    blocks.Write(*out, 0, 10);
    ASSERT_TRUE(RecordFor(400));
    EXPECT_EQ(blocks.DoneCount(), 0u) << "a paused device takes nothing";
    EXPECT_EQ(LoudStretches(recorder->Bytes(), pausedFrom), 0u) << "a paused device is silent";
    EXPECT_EQ(out->Unprepare(&blocks[0]), WaveErrStillPlaying);

    ASSERT_EQ(out->Restart(), WaveOk);
    blocks.Write(*out, 10, 20);
    ASSERT_TRUE(WaitFor([&] { return blocks.AllDone(); }));
    ASSERT_TRUE(RecordFor(300));
    EXPECT_NEAR(double(LoudStretches(recorder->Bytes(), pausedFrom)), 40.0, 4.0);

    // Paused in the middle of playing: the sound stops, what is left waits
    // for Restart.
    ToneBlocks more(50, 440);
    const qsizetype moreFrom = recorder->Bytes().size();
    more.Write(*out, 0, more.Count());
    ASSERT_TRUE(WaitFor([&] { return more.DoneCount() >= 10; }));
    ASSERT_EQ(out->Pause(), WaveOk);
    const size_t doneAtPause = more.DoneCount();
    ASSERT_TRUE(RecordFor(300));
    EXPECT_EQ(more.DoneCount(), doneAtPause);
    EXPECT_EQ(LoudStretches(recorder->Bytes(), recorder->Bytes().size() - 150 * 16), 0u)
        << "silent while paused";
    ASSERT_EQ(out->Restart(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return more.AllDone(); }));
    ASSERT_TRUE(RecordFor(300));
    const double heard = double(LoudStretches(recorder->Bytes(), moreFrom));
    if (!GetParam().drops) {
        EXPECT_NEAR(heard, 100.0, 5.0) << "all of 1 s, in 10-ms stretches";
    } else {
        // Dropping loses at most what the device held (80 ms) and what the
        // sound server had buffered for it.
        EXPECT_GE(heard, 80.0);
        EXPECT_LE(heard, 100.0);
    }
    EXPECT_EQ(out->Close(), WaveOk);
}

// Blocks are marked played when the device takes them; what it took is
// still to be heard for a while, and the device says so until it has played.
TEST_P(PlaybackTest, SaysItPlaysOutWhatItTookUntilItHasPlayedIt)
{
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    EXPECT_FALSE(out->IsPlayingOut());
    ToneBlocks blocks(10, 440);
    blocks.Write(*out, 0, blocks.Count());
    ASSERT_TRUE(WaitFor([&] { return blocks.AllDone(); }));
    EXPECT_TRUE(out->IsPlayingOut());
    EXPECT_TRUE(WaitFor([&] { return !out->IsPlayingOut(); }, 2000));
    EXPECT_EQ(out->Close(), WaveOk);
}

// The phone pauses exactly when every block it wrote is marked played: the
// sound that the device took by then is heard whole, not kept back to come
// late after the next pre-fill.
TEST_P(PlayOutPauseTest, PauseOnceEveryBlockIsDonePlaysWhatWasTaken)
{
    StartRecorder();
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    const qsizetype start = recorder->Bytes().size();
    ToneBlocks blocks(10, 440);
    blocks.Write(*out, 0, blocks.Count());
    ASSERT_TRUE(WaitFor([&] { return blocks.AllDone(); }));
    ASSERT_EQ(out->Pause(), WaveOk);
    ASSERT_TRUE(RecordFor(400));
    EXPECT_NEAR(double(LoudStretches(recorder->Bytes(), start)), 20.0, 2.0)
        << "all of 200 ms heard while paused";

    // Restarted, it plays the next blocks as ever.
    ToneBlocks after(10, 440);
    const qsizetype afterFrom = recorder->Bytes().size();
    after.Write(*out, 0, after.Count());
    ASSERT_EQ(out->Restart(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return after.AllDone(); }));
    ASSERT_TRUE(RecordFor(400));
    EXPECT_NEAR(double(LoudStretches(recorder->Bytes(), afterFrom)), 20.0, 2.0);
    EXPECT_EQ(out->Close(), WaveOk);
}

TEST_P(PlaybackTest, ResetMarksEveryBlockDoneAndPlaybackGoesOn)
{
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    ToneBlocks blocks(30, 440);
    blocks.Write(*out, 0, blocks.Count());
    ASSERT_EQ(out->Reset(), WaveOk);
    EXPECT_TRUE(blocks.AllDone());
    for (size_t i = 0; i < blocks.Count(); ++i)
        EXPECT_EQ(out->Unprepare(&blocks[i]), WaveOk);

    ToneBlocks paused(5, 440);
    ASSERT_EQ(out->Pause(), WaveOk);
    paused.Write(*out, 0, paused.Count());
    ASSERT_EQ(out->Reset(), WaveOk);
    EXPECT_TRUE(paused.AllDone());

    ToneBlocks after(5, 440);
    ASSERT_EQ(out->Restart(), WaveOk);
    after.Write(*out, 0, after.Count());
    EXPECT_TRUE(WaitFor([&] { return after.AllDone(); }));
    EXPECT_EQ(out->Close(), WaveOk);
}

TEST_P(PlaybackTest, PlaysAgainAfterRunningDry)
{
    StartRecorder();
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    const qsizetype start = recorder->Bytes().size();
    ToneBlocks first(10, 440);
    first.Write(*out, 0, first.Count());
    ASSERT_TRUE(WaitFor([&] { return first.AllDone(); }));
    ASSERT_TRUE(RecordFor(500));  // long enough to run dry
    ToneBlocks second(10, 440);
    second.Write(*out, 0, second.Count());
    ASSERT_TRUE(WaitFor([&] { return second.AllDone(); }));
    ASSERT_TRUE(RecordFor(400));
    EXPECT_NEAR(double(LoudStretches(recorder->Bytes(), start)), 40.0, 4.0)
        << "both bursts of 200 ms are heard";
    EXPECT_EQ(out->Close(), WaveOk);
}

TEST_P(PlaybackTest, CloseWithBlocksQueuedLetsGoOfThem)
{
    auto out = MakeOut();
    ASSERT_EQ(out->Open(), WaveOk);
    ToneBlocks blocks(40, 440);
    WaveHeader unprepared = blocks[0];
    unprepared.flags = 0;
    EXPECT_EQ(out->Write(&unprepared), WaveErrUnprepared);
    blocks.Write(*out, 0, blocks.Count());
    ASSERT_EQ(out->Close(), WaveOk);
    EXPECT_TRUE(blocks.AllDone());
    for (size_t i = 0; i < blocks.Count(); ++i)
        EXPECT_FALSE(blocks[i].flags & WaveInQueue);
}

TEST_P(PlaybackTest, VanishedSinkStillTakesBlocks)
{
    test::PrivateAudioServer server;
    ASSERT_TRUE(server.Running()) << "could not start a private audio server";
    auto device = MakeOut();
    WaveOut& out = *device;
    ASSERT_EQ(out.Open(), WaveOk);
    ToneBlocks blocks(60, 440);
    blocks.Write(out, 0, 10);
    ASSERT_TRUE(WaitFor([&] { return blocks.DoneCount() >= 5; }));

    server.Kill();
    size_t written = 10;
    // Keep writing as the phone would, a block per turn of the loop, until
    // the device notices; every block is taken and ends up done.
    const bool failed = WaitFor([&] {
        if (written < blocks.Count()) {
            blocks.Write(out, written, written + 1);
            ++written;
        }
        return test::IsFailed(out);
    });
    ASSERT_TRUE(failed) << "the device did not notice that its sink went away";
    EXPECT_LT(test::CpuMsWhileWaiting(500), 100) << "a failed device must not spin";
    blocks.Write(out, written, blocks.Count());
    EXPECT_TRUE(blocks.AllDone());
    EXPECT_EQ(out.Pause(), WaveOk);

    // Restart finds no server to open the device on again: still failed,
    // still taking blocks.
    EXPECT_EQ(out.Restart(), WaveOk);
    EXPECT_TRUE(test::IsFailed(out));
    ToneBlocks after(10, 440);
    after.Write(out, 0, after.Count());
    EXPECT_TRUE(after.AllDone());
    EXPECT_EQ(out.Close(), WaveOk);

    // Once a server is back, the device opens again and is heard.
    test::PrivateAudioServer again;
    ASSERT_TRUE(again.Running());
    test::PulseRecorder heard("only.monitor");
    ASSERT_TRUE(heard.Started());
    ASSERT_TRUE(WaitFor([&] { return heard.Bytes().size() > 1600; }));
    const qsizetype start = heard.Bytes().size();
    ASSERT_EQ(out.Open(), WaveOk);
    ToneBlocks reopened(20, 440);
    reopened.Write(out, 0, reopened.Count());
    ASSERT_TRUE(WaitFor([&] { return reopened.AllDone(); }));
    const qsizetype target = heard.Bytes().size() + 16 * 400;
    ASSERT_TRUE(WaitFor([&] { return heard.Bytes().size() >= target; }));
    EXPECT_NEAR(double(LoudStretches(heard.Bytes(), start)), 40.0, 4.0) << "400 ms of tone heard";
    EXPECT_FALSE(test::IsFailed(out));
    EXPECT_EQ(out.Close(), WaveOk);
}

}  // namespace
}  // namespace velnar
