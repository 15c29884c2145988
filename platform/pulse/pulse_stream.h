// What the sound-server wave devices share: streams in the wave format with
// the phone's properties, and the device the environment names for them.
#pragma once

#include "platform/pulse/pulse_context.h"

#include <pulse/stream.h>

#include <functional>
#include <memory>

namespace velnar {

// Disconnects (callbacks first, so none comes after) and lets go.
struct PulseStreamRelease {
    void operator()(pa_stream* stream) const;
};
using PulseStreamPtr = std::unique_ptr<pa_stream, PulseStreamRelease>;

// A new stream of 8000-Hz 16-bit mono sound with the phone's media role
// and the program's name and icon; null if the library refuses it.
PulseStreamPtr NewPhoneStream(pa_context* context);

// The device an environment variable (PULSE_SINK, PULSE_SOURCE) names, read
// afresh for every stream; null for the server's default.
const char* DeviceFromEnvironment(const char* variable);

// A device's hold on the shared connection while it is open, with a word
// when the server fails.
class PulseServerLink {
public:
    PulseServerLink() = default;
    ~PulseServerLink() { Release(); }
    PulseServerLink(const PulseServerLink&) = delete;
    PulseServerLink& operator=(const PulseServerLink&) = delete;

    // Connects (afresh after a failure); false when no server answers, and
    // then holds nothing.
    bool Connect(std::function<void()> onFailed);
    void Release();
    PulseContext& Server() { return *m_server; }
    // Why the last Connect failed.
    const std::string& Failure() const { return m_failure; }

private:
    std::shared_ptr<PulseContext> m_server;
    int m_subscription = 0;
    std::string m_failure;
};

}  // namespace velnar
