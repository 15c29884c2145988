// The sound server's playback device: the playback suite on its own
// streams, pausing by corking the stream once what it took has played out.
#include "tests/platform/wave_fixtures.h"

#include <gtest/gtest.h>

namespace velnar::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Backends, PlaybackTest, ::testing::Values(WaveBackendNamed("Pulse")),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, PlayOutPauseTest, ::testing::Values(WaveBackendNamed("Pulse")),
                         BackendName);
INSTANTIATE_TEST_SUITE_P(
    Modes, PauseTest,
    ::testing::Values(PauseCase{
        {"PulseCork", nullptr, [] { return WaveBackendNamed("Pulse").makeOut(); }}, false}),
    PauseCaseName);

}  // namespace
}  // namespace velnar::test
