#include "tests/platform/mixer_backends.h"

#include <pulse/context.h>
#include <pulse/glib-mainloop.h>

#include <QDeadlineTimer>
#include <QEventLoop>

#include "platform/alsa_mixer_device.h"
#include "platform/pulse_mixer_device.h"

namespace velnar::test {

namespace {

// One connection for the whole test process, on the event loop.
pa_context* Connection() {
    static pa_glib_mainloop* loop = pa_glib_mainloop_new(nullptr);
    static pa_context* context = [] {
        pa_context* c = pa_context_new(pa_glib_mainloop_get_api(loop), "velnar-tests");
        pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        QDeadlineTimer deadline(5000);
        QEventLoop wait;
        while (!deadline.hasExpired() && PA_CONTEXT_IS_GOOD(pa_context_get_state(c)) &&
               pa_context_get_state(c) != PA_CONTEXT_READY)
            wait.processEvents(QEventLoop::AllEvents, 20);
        return c;
    }();
    return pa_context_get_state(context) == PA_CONTEXT_READY ? context : nullptr;
}

} // namespace

std::shared_ptr<MixerDevice> MakePulseMixer() {
    pa_context* context = Connection();
    return context ? std::make_shared<PulseMixerDevice>(context) : nullptr;
}

std::vector<MixerBackend> MixerBackends() {
    return {
        {"alsa", [] { return std::make_shared<AlsaMixerDevice>(); }, "Master", "Capture"},
        {"pulse", MakePulseMixer, "speaker", "Monitor of mic"},
    };
}

} // namespace velnar::test
