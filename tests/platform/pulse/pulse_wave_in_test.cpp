// The sound server's capture device: the capture suite on its own streams.
#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

namespace velnar::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Backends, CaptureTest, ::testing::Values(WaveBackendNamed("Pulse")),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(Frequencies, CaptureToneTest, ToneCases(WaveBackendNamed("Pulse")),
                         ToneCaseName);

}  // namespace
}  // namespace velnar::test
