// The two faders of the main dialog on both real mixer devices (ALSA's and
// the sound server's own), against the private PulseAudio server: moving a
// slider changes the volume that pactl reports, and pactl's changes move the
// slider.
#include "mixer/mixer_fader.h"

#include <gtest/gtest.h>
#include <QTest>

#include <ostream>
#include <string>
#include <vector>

#include "platform/mixer_scale.h"
#include "tests/platform/mixer_backends.h"
#include "tests/platform/pactl_volume.h"

namespace velnar {
namespace {

namespace audio = testing_audio;

constexpr long kFullVolume = 65536;  // the server's 100 %
constexpr int kWaitMs = 20000;       // a safety net; generous for a loaded machine

struct Binding {
    const char* name;
    uint32_t destType;
    uint32_t srcType;
    std::optional<std::vector<long>> (*serverVolume)();
    bool (*setServerVolume)(const std::string&);
};

const Binding kOutput{"output", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                      audio::SinkVolume, audio::SetSinkVolume};
const Binding kInput{"input", MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                     MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, audio::SourceVolume,
                     audio::SetSourceVolume};

void PrintTo(const Binding& binding, std::ostream* out)
{
    *out << binding.name;
}

class FaderOnMixerTest : public testing::TestWithParam<std::tuple<Binding, test::MixerBackend>> {
protected:
    void SetUp() override
    {
        if (!audio::HaveAudioServer())
            GTEST_SKIP() << "needs the test audio server: source tools/test-audio-env.sh";
        fader.SetMixerDevice(std::get<1>(GetParam()).make());
        fader.SetReportSink([this](const std::string& context, const std::string& text) {
            reports.push_back(context + ": " + text);
        });
    }
    void TearDown() override
    {
        audio::SetSinkVolume("100%");
        audio::SetSourceVolume("100%");
    }

    static const Binding& Bound() { return std::get<0>(GetParam()); }
    bool Init()
    {
        return fader.Init(Bound().destType, Bound().srcType, MIXERCONTROL_CONTROLTYPE_VOLUME,
                          CMixerFader::MAIN);
    }
    // Waits until the server reports the raw volume on every channel.
    bool ServerReaches(long raw)
    {
        return QTest::qWaitFor(
            [&] {
                const auto volume = Bound().serverVolume();
                if (!volume)
                    return false;
                for (long channel : *volume)
                    if (std::abs(channel - raw) > 1)
                        return false;
                return true;
            },
            kWaitMs);
    }

    CMixerFader fader{nullptr};  // given each backend's device in SetUp
    std::vector<std::string> reports;
};

TEST_P(FaderOnMixerTest, SliderMovesTheServerVolume)
{
    ASSERT_TRUE(Init()) << (reports.empty() ? "" : reports.front());
    EXPECT_TRUE(fader.isEnabled());
    EXPECT_EQ(fader.maximum(), 65535);

    QTest::keyClick(&fader, Qt::Key_Home);
    EXPECT_TRUE(ServerReaches(0));
    QTest::keyClick(&fader, Qt::Key_PageUp);
    EXPECT_TRUE(
        ServerReaches(MixerValueToRaw(static_cast<uint32_t>(fader.pageStep()), 0, kFullVolume)));
    QTest::keyClick(&fader, Qt::Key_End);
    EXPECT_TRUE(ServerReaches(kFullVolume));
    EXPECT_TRUE(reports.empty());
}

TEST_P(FaderOnMixerTest, ServerChangesMoveTheSlider)
{
    ASSERT_TRUE(Init()) << (reports.empty() ? "" : reports.front());
    ASSERT_TRUE(Bound().setServerVolume("26214"));  // 40 %
    const int expected = static_cast<int>(RawToMixerValue(26214, 0, kFullVolume));
    EXPECT_TRUE(QTest::qWaitFor([&] { return fader.value() == expected; }, kWaitMs))
        << fader.value();

    // The slider followed; the server keeps what it was given.
    ASSERT_TRUE(Bound().setServerVolume("13107"));
    const int lower = static_cast<int>(RawToMixerValue(13107, 0, kFullVolume));
    EXPECT_TRUE(QTest::qWaitFor([&] { return fader.value() == lower; }, kWaitMs)) << fader.value();
    EXPECT_TRUE(ServerReaches(13107));
}

INSTANTIATE_TEST_SUITE_P(MainDialogFaders, FaderOnMixerTest,
                         testing::Combine(testing::Values(kOutput, kInput),
                                          testing::ValuesIn(test::MixerBackends())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace velnar
