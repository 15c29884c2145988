#include "platform/pulse/pulse_context.h"

#include <pulse/error.h>
#include <pulse/proplist.h>

#include <chrono>
#include <vector>

namespace velnar {

namespace {

thread_local std::weak_ptr<PulseContext> t_shared;

pa_proplist* ApplicationProperties()
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Velnar");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "velnar");
    return properties;
}

}  // namespace

std::shared_ptr<PulseContext> PulseContext::Shared()
{
    std::shared_ptr<PulseContext> context = t_shared.lock();
    if (!context) {
        context = std::make_shared<PulseContext>();
        t_shared = context;
    }
    return context;
}

bool PulseContext::ServerAnswers(int waitMs)
{
    return Shared()->Connect(waitMs);
}

PulseContext::PulseContext() = default;

PulseContext::~PulseContext()
{
    m_subscribers.clear();
    Drop();
}

bool PulseContext::Connect(int waitMs)
{
    if (m_state == State::Ready)
        return true;
    if (m_state != State::Connecting) {
        Drop();
        pa_proplist* properties = ApplicationProperties();
        m_context = pa_context_new_with_proplist(m_loop.Api(), "Velnar", properties);
        pa_proplist_free(properties);
        if (!m_context) {
            SetState(State::Failed);
            NoteFailureReason();
            return false;
        }
        pa_context_set_state_callback(m_context, &PulseContext::OnContextState, this);
        SetState(State::Connecting);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            SetState(State::Failed);
            NoteFailureReason();
            return false;
        }
    }
    WaitUntil([this] { return m_state != State::Connecting; }, waitMs);
    NoteFailureReason();
    return m_state == State::Ready;
}

void PulseContext::NoteFailureReason()
{
    if (m_state == State::Ready)
        m_failureReason.clear();
    else if (m_state == State::Connecting)
        m_failureReason = "the sound server did not answer";
    else if (m_context)
        m_failureReason = pa_strerror(pa_context_errno(m_context));
    else
        m_failureReason = "no connection could be made";
}

bool PulseContext::WaitUntil(const std::function<bool()>& condition, int waitMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMs);
    while (!condition()) {
        const auto leftMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (leftMs <= 0)
            return false;
        m_loop.Iterate(int(leftMs));
    }
    return true;
}

void PulseContext::OnContextState(pa_context* context, void* userdata)
{
    auto* self = static_cast<PulseContext*>(userdata);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: self->SetState(State::Ready); break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: self->SetState(State::Failed); break;
    default: break;
    }
}

void PulseContext::SetState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    // Subscribers may come and go meanwhile: call those still there.
    std::vector<int> ids;
    for (const auto& [id, fn] : m_subscribers)
        ids.push_back(id);
    for (int id : ids) {
        auto it = m_subscribers.find(id);
        if (it == m_subscribers.end())
            continue;
        const StateFn fn = it->second;
        fn(state);
    }
}

int PulseContext::Subscribe(StateFn onState)
{
    const int id = m_nextId++;
    m_subscribers[id] = std::move(onState);
    return id;
}

void PulseContext::Unsubscribe(int id)
{
    m_subscribers.erase(id);
}

void PulseContext::Drop()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_state = State::Unconnected;
}

}  // namespace velnar
