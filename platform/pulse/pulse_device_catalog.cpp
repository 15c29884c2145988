#include "platform/pulse/pulse_device_catalog.h"

#include "platform/pulse/pulse_context.h"

#include <pulse/introspect.h>

#include <algorithm>

namespace velnar {

namespace {

struct Listing {
    std::vector<SoundDevice> devices;
    std::vector<SoundDevice> monitors;
    bool done = false;
};

SoundDevice Named(const char* id, const char* description)
{
    return {id ? id : "", description && *description ? description : (id ? id : "")};
}

void OnSource(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing*>(userdata);
    if (eol || !info) {
        listing->done = true;
        return;
    }
    auto& list = info->monitor_of_sink != PA_INVALID_INDEX ? listing->monitors : listing->devices;
    list.push_back(Named(info->name, info->description));
}

void OnSink(pa_context*, const pa_sink_info* info, int eol, void* userdata)
{
    auto* listing = static_cast<Listing*>(userdata);
    if (eol || !info) {
        listing->done = true;
        return;
    }
    listing->devices.push_back(Named(info->name, info->description));
}

class PulseDeviceCatalog : public DeviceCatalog {
public:
    std::vector<SoundDevice> Microphones() override
    {
        return List([](pa_context* c, Listing* l) {
            return pa_context_get_source_info_list(c, OnSource, l);
        });
    }
    std::vector<SoundDevice> Speakers() override
    {
        return List(
            [](pa_context* c, Listing* l) { return pa_context_get_sink_info_list(c, OnSink, l); });
    }

private:
    template <typename Ask>
    std::vector<SoundDevice> List(Ask ask)
    {
        const std::shared_ptr<PulseContext> server = PulseContext::Shared();
        if (!server->Connect())
            return {};
        // Owned here and not freed before the answer or the server's end:
        // a late callback must still find it.
        auto listing = std::make_shared<Listing>();
        pa_operation* operation = ask(server->Handle(), listing.get());
        if (!operation)
            return {};
        server->WaitUntil([&] { return listing->done || !server->IsReady(); },
                          PulseContext::kConnectWaitMs);
        if (!listing->done) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
            return {};
        }
        pa_operation_unref(operation);
        std::vector<SoundDevice> devices = std::move(listing->devices);
        devices.insert(devices.end(), listing->monitors.begin(), listing->monitors.end());
        return devices;
    }
};

}  // namespace

std::shared_ptr<DeviceCatalog> MakePulseDeviceCatalog()
{
    return std::make_shared<PulseDeviceCatalog>();
}

}  // namespace velnar
