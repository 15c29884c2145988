// The sound server's devices as the Settings dialog lists them, and a
// playback stream sent to the one chosen, on the test audio server (sinks
// "speaker" and "mic"; the default source is the monitor of "mic").
#include "platform/pulse/pulse_device_catalog.h"
#include "platform/alsa/alsa_device_catalog.h"

#include "tests/platform/server_test.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>

namespace velnar {
namespace {

std::vector<std::string> Ids(const std::vector<SoundDevice>& devices)
{
    std::vector<std::string> ids;
    for (const SoundDevice& device : devices)
        ids.push_back(device.id);
    return ids;
}

using PulseDeviceCatalogTest = test::AudioServerTest;

TEST_F(PulseDeviceCatalogTest, SinksAndSourcesByDescriptionMonitorsLast)
{
    auto catalog = MakePulseDeviceCatalog();
    const auto speakers = catalog->Speakers();
    ASSERT_EQ(Ids(speakers), (std::vector<std::string>{"speaker", "mic"}));
    EXPECT_EQ(speakers[0].name, "speaker");  // the server's description
    const auto microphones = Ids(catalog->Microphones());
    EXPECT_EQ(microphones, (std::vector<std::string>{"speaker.monitor", "mic.monitor"}));
}

// The test server is ALSA's "default" too, so ALSA's list offers it; no
// entry is nameless and "default" itself is not listed twice.
TEST_F(PulseDeviceCatalogTest, AlsaListsNamedDevicesWithoutDefault)
{
    for (const auto& devices :
         {MakeAlsaDeviceCatalog()->Speakers(), MakeAlsaDeviceCatalog()->Microphones()}) {
        for (const SoundDevice& device : devices) {
            EXPECT_FALSE(device.name.empty()) << device.id;
            EXPECT_NE(device.id, "default");
        }
    }
}

}  // namespace
}  // namespace velnar
