#include "platform/pulse/pulse_stream.h"

#include "platform/wave_format.h"

#include <pulse/proplist.h>

#include <cstdlib>

namespace velnar {

void PulseStreamRelease::operator()(pa_stream* stream) const
{
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY ||
        pa_stream_get_state(stream) == PA_STREAM_CREATING)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

PulseStreamPtr NewPhoneStream(pa_context* context)
{
    const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, kWaveRateHz, 1};
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "phone");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Velnar");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "velnar");
    pa_stream* stream =
        pa_stream_new_with_proplist(context, "Phone call", &sampleSpec, nullptr, properties);
    pa_proplist_free(properties);
    return PulseStreamPtr(stream);
}

const char* DeviceFromEnvironment(const char* variable)
{
    const char* device = std::getenv(variable);
    return device && *device ? device : nullptr;
}

bool PulseServerLink::Connect(std::function<void()> onFailed)
{
    if (!m_server) {
        m_server = PulseContext::Shared();
        m_subscription =
            m_server->Subscribe([onFailed = std::move(onFailed)](PulseContext::State state) {
                if (state == PulseContext::State::Failed)
                    onFailed();
            });
    }
    if (m_server->Connect())
        return true;
    m_failure = m_server->FailureReason();
    Release();
    return false;
}

void PulseServerLink::Release()
{
    if (!m_server)
        return;
    m_server->Unsubscribe(m_subscription);
    m_server.reset();
}

}  // namespace velnar
