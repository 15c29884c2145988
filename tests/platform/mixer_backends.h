// The mixer devices the audio tests run against, on the private test sound
// server: ALSA's (through the server's plugin) and the server's own.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/mixer_device.h"

namespace velnar::test {

struct MixerBackend {
    const char* name;
    std::function<std::shared_ptr<MixerDevice>()> make;  // null when it cannot be made
    std::string speakersName;  // the line names the test server's devices give
    std::string microphoneName;
};

std::vector<MixerBackend> MixerBackends();

// Logs and test lists show the backend by name.
inline void PrintTo(const MixerBackend& backend, std::ostream* out)
{
    *out << backend.name;
}

// The sound server's mixer device on a connection of the test process.
std::shared_ptr<MixerDevice> MakePulseMixer();

}  // namespace velnar::test
