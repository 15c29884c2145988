// The device picker: which backend a choice and the VELNAR_AUDIO variable
// lead to, and that the devices handed out belong to it.
#include "platform/audio_devices.h"

#include "platform/alsa/alsa_mixer_device.h"
#include "platform/alsa/alsa_server_plugin.h"
#include "platform/alsa/alsa_wave_in.h"
#include "platform/alsa/alsa_wave_out.h"
#include "platform/pulse/pulse_mixer_device.h"
#include "platform/pulse/pulse_wave_in.h"
#include "platform/pulse/pulse_wave_out.h"
#include "tests/platform/alsa/alsa_server_config.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace velnar {
namespace {

// Sets VELNAR_AUDIO (or unsets it) for one case and restores it afterwards.
class ChoiceVariable {
public:
    explicit ChoiceVariable(const char* value)
    {
        if (const char* old = std::getenv("VELNAR_AUDIO"))
            m_old = old;
        value ? setenv("VELNAR_AUDIO", value, 1) : unsetenv("VELNAR_AUDIO");
    }
    ~ChoiceVariable()
    {
        m_old ? setenv("VELNAR_AUDIO", m_old->c_str(), 1) : unsetenv("VELNAR_AUDIO");
    }

private:
    std::optional<std::string> m_old;
};

struct PickCase {
    const char* choice;
    const char* variable;  // nullptr: unset
    const char* backend;   // expected; "" when no devices are made
};

TEST(AudioDevices, ChoiceAndVariablePickTheBackend)
{
    // ALSA through the sound server's own plugin is the sound server.
    const char* alsa = AlsaPcmIsSoundServerPlugin("default") ? "pulse" : "alsa";
    const PickCase cases[] = {
        {"alsa", nullptr, alsa},
        {"", "alsa", alsa},
        {"alsa", "no-such-backend", alsa},  // an explicit choice wins
        {"", "no-such-backend", ""},
        {"pulse", nullptr, "pulse"},
        {"", "pulse", "pulse"},
        {"pulse", "alsa", "pulse"},
        {"no-such-backend", "alsa", ""},
    };
    for (const PickCase& c : cases) {
        ChoiceVariable variable(c.variable);
        const AudioDevices devices = MakeAudioDevices(c.choice);
        const std::string label = std::string("choice \"") + c.choice + "\", VELNAR_AUDIO " +
                                  (c.variable ? c.variable : "unset");
        EXPECT_EQ(devices.backend, c.backend) << label;
        const bool alsa = std::string(c.backend) == "alsa";
        EXPECT_EQ(dynamic_cast<AlsaWaveIn*>(devices.waveIn.get()) != nullptr, alsa) << label;
        EXPECT_EQ(dynamic_cast<AlsaWaveOut*>(devices.waveOut.get()) != nullptr, alsa) << label;
        EXPECT_EQ(dynamic_cast<AlsaMixerDevice*>(devices.mixer.get()) != nullptr, alsa) << label;
        const bool pulse = std::string(c.backend) == "pulse";
        EXPECT_EQ(dynamic_cast<PulseWaveIn*>(devices.waveIn.get()) != nullptr, pulse) << label;
        EXPECT_EQ(dynamic_cast<PulseWaveOut*>(devices.waveOut.get()) != nullptr, pulse) << label;
        EXPECT_EQ(dynamic_cast<PulseMixerDevice*>(devices.mixer.get()) != nullptr, pulse) << label;
        if (!alsa && !pulse) {
            EXPECT_TRUE(!devices.waveIn && !devices.waveOut && !devices.mixer) << label;
        }
    }
}

// ALSA whose default device is the sound server's own plugin, directly or
// through devices that pass sound on, could hang the program when the server
// restarts: the picker says so and takes the server.
TEST(AudioDevices, AlsaThroughTheServerPluginIsTheServerItself)
{
    const std::string said =
        "velnar: ALSA's default device is the sound server's own plugin; "
        "using the sound server directly\n";
    const std::pair<const char*, bool> rows[] = {
        {"pcm.!default { type pulse }", true},
        {"pcm.s { type pulse }\npcm.p { type plug slave.pcm \"s\" }\n"
         "pcm.!default { type plug slave { pcm \"p\" } }",
         true},
        {"pcm.!default { type plug slave.pcm { type pulse } }", true},
        {"pcm.!default { type null }", false},
        {"pcm.c { type hw card 0 }\npcm.!default { type plug slave.pcm \"c\" }", false},
        {"pcm.!default { type plug slave.pcm \"default\" }", false},  // a loop ends
    };
    for (const auto& [config, plugin] : rows) {
        test::AlsaConfigFile file(config);
        testing::internal::CaptureStderr();
        const AudioDevices devices = MakeAudioDevices("alsa");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), plugin ? said : "") << config;
        EXPECT_EQ(devices.backend, plugin ? "pulse" : "alsa") << config;
        EXPECT_EQ(dynamic_cast<PulseWaveIn*>(devices.waveIn.get()) != nullptr, plugin) << config;
    }
}

// Left to itself, the picker takes the sound server when one answers and
// ALSA when none does.
TEST(AudioDevices, AutomaticChoiceTakesTheServerThatAnswers)
{
    const char* server = std::getenv("PULSE_SERVER");
    if (!server || !*server)
        GTEST_SKIP() << "no test audio server: source tools/test-audio-env.sh first";
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    ChoiceVariable variable(nullptr);
    EXPECT_EQ(MakeAudioDevices().backend, "pulse");
    const std::string reachable = server;
    setenv("PULSE_SERVER", "unix:/nonexistent/velnar-no-server", 1);
    EXPECT_EQ(MakeAudioDevices().backend, AlsaPcmIsSoundServerPlugin("default") ? "pulse" : "alsa");
    setenv("PULSE_SERVER", reachable.c_str(), 1);
}

TEST(AudioDevices, NoneIsTheSilentPairWithoutMixer)
{
    for (const char* choice : {"none", ""}) {
        ChoiceVariable variable("none");
        const AudioDevices devices = MakeAudioDevices(choice);
        EXPECT_EQ(devices.backend, "none") << choice;
        EXPECT_TRUE(devices.waveIn && devices.waveOut) << choice;
        EXPECT_EQ(dynamic_cast<AlsaWaveIn*>(devices.waveIn.get()), nullptr) << choice;
        EXPECT_EQ(dynamic_cast<AlsaWaveOut*>(devices.waveOut.get()), nullptr) << choice;
        EXPECT_FALSE(devices.mixer) << choice;
    }
}

}  // namespace
}  // namespace velnar
