#include "platform/alsa/alsa_device_catalog.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <memory>

namespace velnar {

namespace {

// A hint's field, freed here; "" when absent.
std::string HintField(const void* hint, const char* field)
{
    char* value = snd_device_name_get_hint(hint, field);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

// Descriptions come in two lines ("card\ndevice"); one line reads better.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

// direction "Input" or "Output"; a hint without one serves both.
std::vector<SoundDevice> List(const char* direction)
{
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints)
        return {};
    std::vector<SoundDevice> devices;
    for (void** hint = hints; *hint; ++hint) {
        const std::string name = HintField(*hint, "NAME");
        const std::string io = HintField(*hint, "IOID");
        if (name.empty() || name == "null" || name == "default" || (!io.empty() && io != direction))
            continue;
        const std::string description = OneLine(HintField(*hint, "DESC"));
        devices.push_back({name, description.empty() ? name : description});
    }
    snd_device_name_free_hint(hints);
    return devices;
}

class AlsaDeviceCatalog : public DeviceCatalog {
public:
    std::vector<SoundDevice> Microphones() override { return List("Input"); }
    std::vector<SoundDevice> Speakers() override { return List("Output"); }
};

}  // namespace

std::shared_ptr<DeviceCatalog> MakeAlsaDeviceCatalog()
{
    return std::make_shared<AlsaDeviceCatalog>();
}

}  // namespace velnar
