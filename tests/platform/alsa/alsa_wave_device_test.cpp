// Opening the ALSA wave devices.
#include "platform/alsa/alsa_wave_device.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <string>

namespace velnar {
namespace {

// Needs no server: a device that does not exist, and calls before Open.
TEST(AlsaDeviceOpen, MissingDeviceAndUnopenedDevice)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    auto in = MakeAlsaWaveIn("velnar_no_such_pcm");
    auto out = MakeAlsaWaveOut("velnar_no_such_pcm");
    WaveHeader header{};
    EXPECT_EQ(in->Prepare(&header), WaveErrNotOpen);
    EXPECT_EQ(in->Start(), WaveErrNotOpen);
    EXPECT_EQ(in->Close(), WaveErrNotOpen);
    EXPECT_EQ(out->Write(&header), WaveErrNotOpen);
    EXPECT_EQ(out->Pause(), WaveErrNotOpen);
    // ALSA's own account of the failed lookup is summed up in one line.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(in->Open([](WaveHeader*) {}), WaveErrNoDevice);
    EXPECT_EQ(out->Open(), WaveErrNoDevice);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed.rfind("velnar: cannot open ALSA device \"velnar_no_such_pcm\": ", 0), 0u)
        << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_EQ(in->OpenFailure().rfind("ALSA device \"velnar_no_such_pcm\" capture: ", 0), 0u)
        << in->OpenFailure();
    EXPECT_EQ(out->OpenFailure().rfind("ALSA device \"velnar_no_such_pcm\" playback: ", 0), 0u)
        << out->OpenFailure();
    EXPECT_EQ(in->AddBuffer(&header), WaveErrNotOpen) << "a failed Open leaves it closed";
    EXPECT_EQ(out->Reset(), WaveErrNotOpen);
}

}  // namespace
}  // namespace velnar
