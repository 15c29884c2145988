// The device picker: which backend a choice and the VELNAR_AUDIO variable
// lead to, and that the devices handed out belong to it.
#include "platform/audio_devices.h"

#include "platform/alsa_mixer_device.h"
#include "platform/alsa_wave_in.h"
#include "platform/alsa_wave_out.h"
#include "platform/pulse_mixer_device.h"
#include "platform/pulse_wave_in.h"
#include "platform/pulse_wave_out.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace velnar {
namespace {

// Sets an environment variable (or unsets it) for one case and restores it
// afterwards.
class Variable {
public:
    Variable(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~Variable()
    {
        m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class ChoiceVariable : public Variable {
public:
    explicit ChoiceVariable(const char* value) : Variable("VELNAR_AUDIO", value) {}
};

// Whether the devices are those of the backend (and only then).
void ExpectBackendDevices(const AudioDevices& devices, const std::string& backend, const std::string& label)
{
    const bool alsa = backend == "alsa";
    const bool pulse = backend == "pulse";
    EXPECT_EQ(dynamic_cast<AlsaWaveIn*>(devices.waveIn.get()) != nullptr, alsa) << label;
    EXPECT_EQ(dynamic_cast<AlsaWaveOut*>(devices.waveOut.get()) != nullptr, alsa) << label;
    EXPECT_EQ(dynamic_cast<AlsaMixerDevice*>(devices.mixer.get()) != nullptr, alsa) << label;
    EXPECT_EQ(dynamic_cast<PulseWaveIn*>(devices.waveIn.get()) != nullptr, pulse) << label;
    EXPECT_EQ(dynamic_cast<PulseWaveOut*>(devices.waveOut.get()) != nullptr, pulse) << label;
    EXPECT_EQ(dynamic_cast<PulseMixerDevice*>(devices.mixer.get()) != nullptr, pulse) << label;
}

struct PickCase {
    const char* choice;
    const char* variable;  // nullptr: unset
    const char* backend;   // expected; "" when no devices are made
};

TEST(AudioDevices, ChoiceAndVariablePickTheBackend)
{
    const PickCase cases[] = {
        {"alsa", nullptr, "alsa"},
        {"", "alsa", "alsa"},
        {"alsa", "no-such-backend", "alsa"},  // an explicit choice wins
        {"", "no-such-backend", ""},
        {"no-such-backend", "alsa", ""},
        {"pulse", nullptr, "pulse"},
        {"", "pulse", "pulse"},
        {"pulse", "alsa", "pulse"},
    };
    for (const PickCase& c : cases) {
        ChoiceVariable variable(c.variable);
        const AudioDevices devices = MakeAudioDevices(c.choice);
        const std::string label = std::string("choice \"") + c.choice + "\", VELNAR_AUDIO " +
                                  (c.variable ? c.variable : "unset");
        EXPECT_EQ(devices.backend, c.backend) << label;
        ExpectBackendDevices(devices, c.backend, label);
        if (!*c.backend) {
            EXPECT_TRUE(!devices.waveIn && !devices.waveOut && !devices.mixer) << label;
        }
    }
}

TEST(AudioDevices, AutomaticChoiceWithoutASoundServerIsAlsa)
{
    ChoiceVariable variable(nullptr);
    Variable server("PULSE_SERVER", "unix:/nonexistent/velnar-no-server");
    const AudioDevices devices = MakeAudioDevices();
    EXPECT_EQ(devices.backend, "alsa");
    ExpectBackendDevices(devices, "alsa", "no server");
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
