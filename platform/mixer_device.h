// The sound-card mixer as the mixer bindings see it: numbered devices, each
// with destination lines that may have source lines, each line with typed
// controls whose unsigned 32-bit values are read and written per channel (and
// per item). Implementations: ALSA (alsa_mixer_device.*) and an in-memory
// double for tests (fake_mixer_device.*).
//
// One MixerDevice object serves any number of open handles; every handle
// receives the change notifications of the whole device. Notifications are
// delivered on the event loop of the thread that opened the handle, never
// from inside a call of this interface, and never after Close of that handle.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/mixer_codes.h"

namespace velnar {

// An open handle; 0 is "none".
using MixerHandle = uint32_t;

struct MixerCaps {
    uint32_t cDestinations = 0;  // number of destination lines
    std::string szPname;         // product name
};

struct MixerLine {
    // Input: which line to query.
    uint32_t dwDestination = 0;  // destination index
    uint32_t dwSource = 0;       // source index within the destination
    // Output.
    uint32_t dwLineID = 0;
    uint32_t dwComponentType = 0;  // MIXERLINE_COMPONENTTYPE_*
    uint32_t cChannels = 0;
    uint32_t cConnections = 0;  // sources of a destination; 0 for a source
    uint32_t cControls = 0;
    std::string szShortName;
    std::string szName;
};

struct MixerControl {
    uint32_t dwControlID = 0;
    uint32_t dwControlType = 0;   // MIXERCONTROL_CONTROLTYPE_*
    uint32_t fdwControl = 0;      // MIXERCONTROL_CONTROLF_*
    uint32_t cMultipleItems = 0;  // items of a MULTIPLE control, else 0
    std::string szShortName;
    std::string szName;
    uint32_t dwMinimum = 0;  // bounds of the values
    uint32_t dwMaximum = 0;
    uint32_t cSteps = 0;  // distinct steps between the bounds
};

// A read or write request: paDetails holds cChannels values, times
// cMultipleItems for a MULTIPLE control; entry 0 is the left (or only)
// channel, entry 1 the right. The caller owns the buffer.
struct MixerControlDetails {
    uint32_t dwControlID = 0;
    uint32_t cChannels = 0;  // 1 for a uniform control, else the line's channels
    uint32_t cMultipleItems = 0;
    uint32_t cbDetails = 0;  // bytes per value: 4
    uint32_t* paDetails = nullptr;
};

class MixerDevice {
public:
    // Receives (handle, changed control's ID).
    using ChangeFn = std::function<void(MixerHandle, uint32_t)>;

    virtual ~MixerDevice() = default;

    virtual uint32_t GetNumDevs() = 0;
    virtual MixerResult Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle) = 0;
    virtual MixerResult GetDevCaps(MixerHandle handle, MixerCaps& caps) = 0;
    // flags: MIXER_GETLINEINFOF_DESTINATION (line.dwDestination) or
    // MIXER_GETLINEINFOF_SOURCE (line.dwDestination and line.dwSource).
    virtual MixerResult GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags) = 0;
    // The line's first control of the given type (MIXER_GETLINECONTROLSF_ONEBYTYPE).
    virtual MixerResult GetLineControlByType(MixerHandle handle, uint32_t lineId,
                                             uint32_t controlType, MixerControl& control) = 0;
    virtual MixerResult GetControlDetails(MixerHandle handle, MixerControlDetails& details) = 0;
    virtual MixerResult SetControlDetails(MixerHandle handle,
                                          const MixerControlDetails& details) = 0;
    virtual MixerResult Close(MixerHandle handle) = 0;
};

}  // namespace velnar
