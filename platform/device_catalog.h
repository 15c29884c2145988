// The sound devices a user may choose from: the sound server's sources and
// sinks, or ALSA's capture and playback devices, each with the identifier
// its backend opens it by and the name people know it by. Made with the
// wave devices at program start-up and handed down with them, so that the
// dialogs list devices without linking a backend.
#pragma once

#include <string>
#include <vector>

namespace velnar {

struct SoundDevice {
    std::string id;    // what the wave devices' SelectDevice takes
    std::string name;  // for people: "Built-in Audio Analog Stereo"
};

class DeviceCatalog {
public:
    virtual ~DeviceCatalog() = default;
    // Asked afresh each time (devices come and go); the default device is
    // not listed. Empty when the backend cannot say.
    virtual std::vector<SoundDevice> Microphones() = 0;
    virtual std::vector<SoundDevice> Speakers() = 0;
};

}  // namespace velnar
