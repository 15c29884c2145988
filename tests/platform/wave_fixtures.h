// The fixtures of the wave-device tests that every backend passes alike:
// the suites are written once (wave_in_test.cpp, wave_out_test.cpp) and
// each backend's own test file runs them on its devices.
#pragma once

#include "tests/platform/audio_server.h"
#include "tests/platform/capture_rig.h"
#include "tests/platform/wave_backends.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>

namespace velnar::test {

class CaptureTestBase : public ::testing::Test {
protected:
    virtual const WaveBackend& Backend() const = 0;

    void SetUp() override
    {
        if (!HaveTestAudioServer())
            GTEST_SKIP() << "no test audio server: source tools/test-audio-env.sh first";
        sink = std::make_unique<ScratchSink>();
        ASSERT_TRUE(sink->Loaded()) << "could not load a null sink";
    }

    // Opens, queues and starts the rig and waits for its first buffer: the
    // stream is running from then on.
    void StartAndWaitForSound(CaptureRig& rig)
    {
        ASSERT_EQ(rig.Open(), WaveOk);
        ASSERT_TRUE(rig.QueueAll());
        ASSERT_EQ(rig.In().Start(), WaveOk);
        ASSERT_TRUE(WaitFor([&] { return !rig.ReturnedBuffers().empty(); }))
            << "no capture buffer came back";
    }

    int argc = 0;
    QCoreApplication app{argc, nullptr};
    std::unique_ptr<ScratchSink> sink;
};

class CaptureTest : public CaptureTestBase, public ::testing::WithParamInterface<WaveBackend> {
protected:
    const WaveBackend& Backend() const override { return GetParam(); }
};

// A tone played into the microphone comes back at its own frequency, for
// as long as it was played, without a dropped or repeated buffer.
class CaptureToneTest : public CaptureTestBase,
                        public ::testing::WithParamInterface<std::tuple<WaveBackend, double>> {
protected:
    const WaveBackend& Backend() const override { return std::get<0>(GetParam()); }
};

// Neither frequency fits a whole number of periods in a 20-ms buffer, so a
// lost buffer would show as a phase jump.
inline auto ToneCases(const WaveBackend& backend)
{
    return ::testing::Combine(::testing::Values(backend), ::testing::Values(440.0, 1330.0));
}

inline std::string ToneCaseName(
    const ::testing::TestParamInfo<std::tuple<WaveBackend, double>>& info)
{
    return std::get<0>(info.param).name + "_" + std::to_string(int(std::get<1>(info.param))) + "Hz";
}

class PlaybackTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTestAudioServer())
            GTEST_SKIP() << "no test audio server: source tools/test-audio-env.sh first";
        sink = std::make_unique<ScratchSink>();
        ASSERT_TRUE(sink->Loaded()) << "could not load a null sink";
    }

    // Starts recording the sink and waits until the recorder delivers.
    void StartRecorder()
    {
        recorder = std::make_unique<PulseRecorder>(sink->Monitor());
        ASSERT_TRUE(recorder->Started()) << "parec did not start";
        ASSERT_TRUE(WaitFor([&] { return recorder->Bytes().size() > 1600; }))
            << "the recorder delivered nothing";
    }

    // Waits until `ms` more milliseconds of sound have been recorded.
    bool RecordFor(int ms)
    {
        const qsizetype target = recorder->Bytes().size() + 16 * ms;
        return WaitFor([&] { return recorder->Bytes().size() >= target; }, 10000 + 4 * ms);
    }

    int argc = 0;
    QCoreApplication app{argc, nullptr};
    std::unique_ptr<ScratchSink> sink;
    std::unique_ptr<PulseRecorder> recorder;
};

class PlaybackTest : public PlaybackTestBase, public ::testing::WithParamInterface<WaveBackend> {
protected:
    std::unique_ptr<WaveOut> MakeOut() const { return GetParam().makeOut(); }
};

// With each backend's own pause, and with ALSA's fallback of dropping what
// the device holds.
struct PauseCase {
    WaveBackend backend;
    bool drops;  // pausing loses what the device held
};

inline void PrintTo(const PauseCase& pauseCase, std::ostream* out)
{
    *out << pauseCase.backend.name;
}

inline std::string PauseCaseName(const ::testing::TestParamInfo<PauseCase>& info)
{
    return info.param.backend.name;
}

class PauseTest : public PlaybackTestBase, public ::testing::WithParamInterface<PauseCase> {};

// Devices whose Pause lets what they took (and marked played) play out
// before they rest.
class PlayOutPauseTest : public PlaybackTest {};

}  // namespace velnar::test
