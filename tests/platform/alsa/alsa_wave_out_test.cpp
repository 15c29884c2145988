// The ALSA playback device: the playback suite on ALSA's "default" PCM
// (pointed at the test server), with the device's own pause and with the
// fallback of dropping what the device holds.
#include "platform/alsa/alsa_wave_out.h"

#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace velnar::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Backends, PlaybackTest, ::testing::Values(WaveBackendNamed("Alsa")),
                         BackendName);

INSTANTIATE_TEST_SUITE_P(
    Modes, PauseTest,
    ::testing::Values(PauseCase{{"AlsaDevicePause", nullptr,
                                 [] { return std::make_unique<AlsaWaveOut>("default"); }},
                                false},
                      PauseCase{{"AlsaDropFallback", nullptr,
                                 [] {
                                     return std::make_unique<AlsaWaveOut>(
                                         "default", AlsaWaveOut::PauseMode::DropAlways);
                                 }},
                                true}),
    PauseCaseName);

}  // namespace
}  // namespace velnar::test
