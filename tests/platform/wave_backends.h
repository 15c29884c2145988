// The real wave devices the device tests run against: ALSA's "default" PCM
// (pointed at the test server) and the sound server's own streams.
#pragma once

#include "platform/wave_device.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace velnar::test {

struct WaveBackend {
    std::string name;
    std::function<std::unique_ptr<WaveIn>()> makeIn;
    std::function<std::unique_ptr<WaveOut>()> makeOut;
};

const WaveBackend& WaveBackendNamed(const std::string& name);

inline std::string BackendName(const ::testing::TestParamInfo<WaveBackend>& info)
{
    return info.param.name;
}

// Logs and test lists show the backend by name.
inline void PrintTo(const WaveBackend& backend, std::ostream* out)
{
    *out << backend.name;
}

// Whether a device of either backend has noticed that its sound went away.
bool IsFailed(const WaveIn& in);
bool IsFailed(const WaveOut& out);

// Processor time the process spends while the event loop runs for `ms`:
// a device that spins shows here.
double CpuMsWhileWaiting(int ms);

}  // namespace velnar::test
