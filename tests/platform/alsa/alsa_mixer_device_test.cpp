// The ALSA mixer device without a server behind it.
#include "platform/alsa/alsa_mixer_device.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

TEST(AlsaMixerDeviceMissing, UnknownControlDeviceIsNoMixer)
{
    AlsaMixerDevice device("velnar_no_such_control_device");
    EXPECT_EQ(device.GetNumDevs(), 0u);
    MixerHandle handle = 0;
    EXPECT_NE(device.Open(0, nullptr, handle), MMSYSERR_NOERROR);
    MixerCaps caps;
    EXPECT_EQ(device.GetDevCaps(handle, caps), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace velnar
