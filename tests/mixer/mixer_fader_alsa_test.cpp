// The two faders of the main dialog on the real ALSA mixer, against the
// private PulseAudio server: moving a slider changes the volume that pactl
// reports, and pactl's changes move the slider.
#include "mixer/mixer_fader.h"

#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/audio_devices.h"
#include "platform/mixer_scale.h"
#include "tests/platform/pactl_volume.h"

namespace velnar {
namespace {

namespace audio = testing_audio;

constexpr long kFullVolume = 65536;  // the server's 100 %
constexpr int kWaitMs = 5000;

struct Binding {
    const char* name;
    uint32_t destType;
    uint32_t srcType;
    std::optional<std::vector<long>> (*serverVolume)();
    bool (*setServerVolume)(const std::string&);
};

const Binding kOutput{"output", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE, audio::SinkVolume,
                      audio::SetSinkVolume};
const Binding kInput{"input", MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                     audio::SourceVolume, audio::SetSourceVolume};

class FaderOnAlsaTest : public testing::TestWithParam<Binding> {
protected:
    void SetUp() override {
        if (!audio::HaveAudioServer())
            GTEST_SKIP() << "needs the test audio server: source tools/test-audio-env.sh";
        fader.SetReportSink([this](const std::string& context, const std::string& text) {
            reports.push_back(context + ": " + text);
        });
    }
    void TearDown() override {
        audio::SetSinkVolume("100%");
        audio::SetSourceVolume("100%");
    }

    bool Init() {
        return fader.Init(GetParam().destType, GetParam().srcType, MIXERCONTROL_CONTROLTYPE_VOLUME,
                          CMixerFader::MAIN);
    }
    // Waits until the server reports the raw volume on every channel.
    bool ServerReaches(long raw) {
        return QTest::qWaitFor([&] {
            const auto volume = GetParam().serverVolume();
            if (!volume)
                return false;
            for (long channel : *volume)
                if (std::abs(channel - raw) > 1)
                    return false;
            return true;
        }, kWaitMs);
    }

    // The ALSA mixer, as program start-up hands it to the main dialog.
    CMixerFader fader{MakeAudioDevices("alsa").mixer};
    std::vector<std::string> reports;
};

TEST_P(FaderOnAlsaTest, SliderMovesTheServerVolume) {
    ASSERT_TRUE(Init()) << (reports.empty() ? "" : reports.front());
    EXPECT_TRUE(fader.isEnabled());
    EXPECT_EQ(fader.maximum(), 65535);

    QTest::keyClick(&fader, Qt::Key_Home);
    EXPECT_TRUE(ServerReaches(0));
    QTest::keyClick(&fader, Qt::Key_PageUp);
    EXPECT_TRUE(ServerReaches(MixerValueToRaw(static_cast<uint32_t>(fader.pageStep()), 0, kFullVolume)));
    QTest::keyClick(&fader, Qt::Key_End);
    EXPECT_TRUE(ServerReaches(kFullVolume));
    EXPECT_TRUE(reports.empty());
}

TEST_P(FaderOnAlsaTest, ServerChangesMoveTheSlider) {
    ASSERT_TRUE(Init()) << (reports.empty() ? "" : reports.front());
    ASSERT_TRUE(GetParam().setServerVolume("26214"));  // 40 %
    const int expected = static_cast<int>(RawToMixerValue(26214, 0, kFullVolume));
    EXPECT_TRUE(QTest::qWaitFor([&] { return fader.value() == expected; }, kWaitMs)) << fader.value();

    // The slider followed; the server keeps what it was given.
    ASSERT_TRUE(GetParam().setServerVolume("13107"));
    const int lower = static_cast<int>(RawToMixerValue(13107, 0, kFullVolume));
    EXPECT_TRUE(QTest::qWaitFor([&] { return fader.value() == lower; }, kWaitMs)) << fader.value();
    EXPECT_TRUE(ServerReaches(13107));
}

INSTANTIATE_TEST_SUITE_P(MainDialogFaders, FaderOnAlsaTest, testing::Values(kOutput, kInput),
                         [](const testing::TestParamInfo<Binding>& info) { return info.param.name; });

} // namespace
} // namespace velnar
