#include "platform/pulse/pulse_mixer_device.h"

#include <pulse/pulseaudio.h>

#include <QDeadlineTimer>
#include <QObject>
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "platform/mixer_scale.h"
#include "platform/pulse/pulse_context.h"

namespace velnar {

namespace {

constexpr uint32_t kSpeakersLineId = 0xFFFF0000;
constexpr uint32_t kWaveInLineId = 0xFFFF0001;
constexpr uint32_t kMicrophoneLineId = 0x00010000;

// How long Open waits for the server's first answer about its defaults.
constexpr int kFirstAnswerMs = 3000;

uint32_t ToMixer(pa_volume_t raw)
{
    return RawToMixerValue(static_cast<long>(std::min<pa_volume_t>(raw, PA_VOLUME_NORM)), 0,
                           PA_VOLUME_NORM);
}

pa_volume_t ToRaw(uint32_t value)
{
    return static_cast<pa_volume_t>(MixerValueToRaw(value, 0, PA_VOLUME_NORM));
}

enum class Side { Left, Right, Neither };

Side SideOf(pa_channel_position_t position)
{
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return Side::Left;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return Side::Right;
    default: return Side::Neither;
    }
}

struct RawSides {
    bool twoSided = false;
    pa_volume_t left = 0;  // loudest left channel (or loudest of all when one-sided)
    pa_volume_t right = 0;
};

RawSides MeasureSides(const pa_cvolume& volume, const pa_channel_map& map)
{
    RawSides sides;
    bool haveLeft = false;
    bool haveRight = false;
    const unsigned channels = std::min<unsigned>(volume.channels, map.channels);
    for (unsigned c = 0; c < channels; ++c) {
        switch (SideOf(map.map[c])) {
        case Side::Left:
            haveLeft = true;
            sides.left = std::max(sides.left, volume.values[c]);
            break;
        case Side::Right:
            haveRight = true;
            sides.right = std::max(sides.right, volume.values[c]);
            break;
        case Side::Neither: break;
        }
    }
    sides.twoSided = haveLeft && haveRight;
    if (!sides.twoSided)
        sides.left = sides.right = pa_cvolume_max(&volume);
    return sides;
}

// value scaled by to/from, or set to `to` when there was nothing to scale.
pa_volume_t Scale(pa_volume_t value, pa_volume_t from, pa_volume_t to)
{
    if (from == PA_VOLUME_MUTED)
        return to;
    const uint64_t scaled = (uint64_t{value} * to + from / 2) / from;
    return static_cast<pa_volume_t>(std::min<uint64_t>(scaled, PA_VOLUME_MAX));
}

}  // namespace

PulseSides PulseVolumeToSides(const pa_cvolume& volume, const pa_channel_map& map)
{
    const RawSides raw = MeasureSides(volume, map);
    return {raw.twoSided ? 2u : 1u, ToMixer(raw.left), ToMixer(raw.right)};
}

void PulseSidesToVolume(pa_cvolume& volume, const pa_channel_map& map, uint32_t left,
                        uint32_t right)
{
    const RawSides old = MeasureSides(volume, map);
    if (!old.twoSided)
        left = right = std::max(left, right);
    const pa_volume_t newLeft = ToRaw(left);
    const pa_volume_t newRight = ToRaw(right);
    const pa_volume_t oldLouder = std::max(old.left, old.right);
    const pa_volume_t newLouder = std::max(newLeft, newRight);
    const unsigned channels = std::min<unsigned>(volume.channels, map.channels);
    for (unsigned c = 0; c < channels; ++c) {
        pa_volume_t& value = volume.values[c];
        switch (old.twoSided ? SideOf(map.map[c]) : Side::Neither) {
        case Side::Left: value = Scale(value, old.left, newLeft); break;
        case Side::Right: value = Scale(value, old.right, newRight); break;
        case Side::Neither: value = Scale(value, oldLouder, newLouder); break;
        }
    }
}

namespace {

// One of the two volumes: the current default sink's or default source's,
// as last reported by the server.
struct ServerVolume {
    bool capture = false;
    uint32_t controlId = 0;
    std::string name;                   // the default device's name; empty while none
    uint32_t index = PA_INVALID_INDEX;  // its index, to pick its events out
    std::string description;
    pa_cvolume volume{};
    pa_channel_map map{};
    bool known = false;             // volume and map hold the device's state
    pa_operation* query = nullptr;  // info query in flight
    bool requery = false;           // a change arrived while it was in flight
    uint64_t writes = 0;            // writes issued so far
    uint64_t writesAtQuery = 0;     // ... when the query in flight was sent
    bool announce = false;          // notify on the next answer even if unchanged

    uint32_t Channels() const { return known ? PulseVolumeToSides(volume, map).channels : 2; }
};

bool Running(pa_operation* operation)
{
    return operation && pa_operation_get_state(operation) == PA_OPERATION_RUNNING;
}

void Drop(pa_operation*& operation)
{
    if (!operation)
        return;
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    operation = nullptr;
}

MixerLine MakeLine(uint32_t lineId, uint32_t componentType, const std::string& name,
                   uint32_t channels, uint32_t connections, uint32_t controls)
{
    MixerLine line;
    line.dwLineID = lineId;
    line.dwComponentType = componentType;
    line.cChannels = channels;
    line.cConnections = connections;
    line.cControls = controls;
    line.szName = name;
    line.szShortName = name.substr(0, 16);
    return line;
}

struct OpenHandle {
    MixerDevice::ChangeFn notify;
    std::vector<MixerLine> destinations;
    std::vector<std::vector<MixerLine>> sources;  // per destination
};

}  // namespace

struct PulseMixerDevice::Impl {
    std::shared_ptr<PulseContext> shared;
    int stateSubscription = 0;
    pa_context* context = nullptr;  // the connection's context while we listen on it
    ServerVolume sink;
    ServerVolume source;
    std::string serverName;
    pa_operation* serverQuery = nullptr;
    bool serverRequery = false;
    bool serverKnown = false;
    bool subscribed = false;
    std::map<MixerHandle, OpenHandle> open;
    MixerHandle nextHandle = 1;
    QObject poster;  // notifications are posted through it; dropped with it

    bool Ready() const { return context && shared->IsReady() && shared->Handle() == context; }
    bool Settled() const
    {
        return serverKnown && !Running(serverQuery) && !Running(sink.query) &&
               !Running(source.query);
    }
    void Start();
    void Lost();
    void OnState(PulseContext::State state);
    void WaitSettled();
    void QueryServer();
    void QueryVolume(ServerVolume& volume);
    void Resolve(ServerVolume& volume, const char* name);
    void Apply(ServerVolume& volume, const char* name, uint32_t index, const char* description,
               const pa_cvolume& reported, const pa_channel_map& map);
    void Finished(ServerVolume& volume);
    void Post(uint32_t controlId);
    void Deliver(uint32_t controlId);
    ServerVolume* VolumeFor(MixerHandle handle, const MixerControlDetails& details,
                            MixerResult& rc);

    void Stop();
    static void OnEvent(Impl* impl, pa_subscription_event_type_t type, uint32_t index);
    static void OnServerInfo(pa_context*, const pa_server_info* info, void* self);
    static void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self);
    static void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self);
};

namespace {

// A context has one subscription callback: every mixer device on it hears
// the events through this list (all on the one thread of the event loop).
std::map<pa_context*, std::vector<PulseMixerDevice::Impl*>>& Listeners()
{
    static std::map<pa_context*, std::vector<PulseMixerDevice::Impl*>> listeners;
    return listeners;
}

void OnContextEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void*)
{
    auto found = Listeners().find(context);
    if (found == Listeners().end())
        return;
    const std::vector<PulseMixerDevice::Impl*> listeners =
        found->second;  // a listener may leave meanwhile
    for (PulseMixerDevice::Impl* impl : listeners)
        PulseMixerDevice::Impl::OnEvent(impl, type, index);
}

}  // namespace

void PulseMixerDevice::Impl::Start()
{
    if (subscribed || !shared->IsReady() || !shared->Handle())
        return;
    context = shared->Handle();
    subscribed = true;
    auto& listeners = Listeners()[context];
    listeners.push_back(this);
    if (listeners.size() == 1) {
        pa_context_set_subscribe_callback(context, &OnContextEvent, nullptr);
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr))
            pa_operation_unref(op);
    }
    QueryServer();
}

void PulseMixerDevice::Impl::Stop()
{
    if (!subscribed)
        return;
    subscribed = false;
    auto found = Listeners().find(context);
    if (found == Listeners().end())
        return;
    std::erase(found->second, this);
    if (!found->second.empty())
        return;
    Listeners().erase(found);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    if (Ready())
        if (pa_operation* op =
                pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr))
            pa_operation_unref(op);
}

// The connection failed or was replaced. Its context is not touched (after
// a replacement it may be gone, and a failed one sends nothing more); what
// was cached is forgotten, and the queries in flight died with it.
void PulseMixerDevice::Impl::Lost()
{
    for (pa_operation** op : {&serverQuery, &sink.query, &source.query}) {
        if (*op)
            pa_operation_unref(*op);
        *op = nullptr;
    }
    if (subscribed) {
        subscribed = false;
        auto found = Listeners().find(context);
        if (found != Listeners().end()) {
            std::erase(found->second, this);
            if (found->second.empty())
                Listeners().erase(found);
        }
    }
    context = nullptr;
    serverKnown = false;
    serverRequery = false;
    for (ServerVolume* volume : {&sink, &source}) {
        volume->name.clear();
        volume->index = PA_INVALID_INDEX;
        volume->known = false;
        volume->requery = false;
    }
}

void PulseMixerDevice::Impl::OnState(PulseContext::State state)
{
    switch (state) {
    case PulseContext::State::Failed:
    case PulseContext::State::Connecting:
    case PulseContext::State::Unconnected:
        if (context)
            Lost();
        break;
    case PulseContext::State::Ready:
        // Back after a failure: fetch everything afresh; every volume
        // counts as changed for the faders.
        if (!open.empty()) {
            Start();
            sink.announce = source.announce = true;
        }
        break;
    }
}

// Serves the connection alone (nothing else of the program runs meanwhile)
// until the first answers are in, the connection fails, or the wait runs out.
void PulseMixerDevice::Impl::WaitSettled()
{
    QDeadlineTimer deadline(kFirstAnswerMs);
    while (!Settled() && Ready() && !deadline.hasExpired())
        shared->Loop().Iterate(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
}

void PulseMixerDevice::Impl::QueryServer()
{
    if (Running(serverQuery)) {
        serverRequery = true;
        return;
    }
    if (serverQuery) {
        pa_operation_unref(serverQuery);
        serverQuery = nullptr;
    }
    serverRequery = false;
    serverQuery = pa_context_get_server_info(context, &Impl::OnServerInfo, this);
}

void PulseMixerDevice::Impl::QueryVolume(ServerVolume& volume)
{
    if (volume.name.empty())
        return;
    if (Running(volume.query)) {
        volume.requery = true;
        return;
    }
    if (volume.query) {
        pa_operation_unref(volume.query);
        volume.query = nullptr;
    }
    volume.requery = false;
    volume.writesAtQuery = volume.writes;
    volume.query = volume.capture ? pa_context_get_source_info_by_name(context, volume.name.c_str(),
                                                                       &Impl::OnSourceInfo, this)
                                  : pa_context_get_sink_info_by_name(context, volume.name.c_str(),
                                                                     &Impl::OnSinkInfo, this);
}

// The server named its default device: a different one is looked up afresh.
void PulseMixerDevice::Impl::Resolve(ServerVolume& volume, const char* name)
{
    const std::string now = name ? name : "";
    if (now == volume.name && volume.known)
        return;
    if (now != volume.name) {
        volume.name = now;
        volume.index = PA_INVALID_INDEX;
        volume.known = false;
        volume.announce = true;  // the faders re-read the new device
        Drop(volume.query);
    }
    QueryVolume(volume);
}

void PulseMixerDevice::Impl::Apply(ServerVolume& volume, const char* name, uint32_t index,
                                   const char* description, const pa_cvolume& reported,
                                   const pa_channel_map& map)
{
    if (!name || volume.name != name)
        return;  // about a device that is no longer the default
    volume.index = index;
    volume.description = description ? description : name;
    if (volume.writes != volume.writesAtQuery)
        return;  // older than our own write; the write's own event brings the news
    if (!pa_cvolume_valid(&reported) || !pa_channel_map_valid(&map) ||
        reported.channels != map.channels)
        return;
    const bool changed = !volume.known || !pa_cvolume_equal(&volume.volume, &reported) ||
                         !pa_channel_map_equal(&volume.map, &map);
    volume.volume = reported;
    volume.map = map;
    volume.known = true;
    if (changed || volume.announce) {
        volume.announce = false;
        Post(volume.controlId);
    }
}

void PulseMixerDevice::Impl::Finished(ServerVolume& volume)
{
    if (volume.requery)
        QueryVolume(volume);
}

void PulseMixerDevice::Impl::Post(uint32_t controlId)
{
    if (open.empty())
        return;  // the first Open reads what is known by then
    // Never from inside a call of the interface, nor from libpulse's own
    // dispatch: the handlers may close handles or write again.
    QMetaObject::invokeMethod(
        &poster, [this, controlId] { Deliver(controlId); }, Qt::QueuedConnection);
}

void PulseMixerDevice::Impl::Deliver(uint32_t controlId)
{
    std::vector<MixerHandle> handles;
    for (const auto& [handle, entry] : open)
        handles.push_back(handle);
    for (MixerHandle handle : handles) {
        auto found = open.find(handle);  // a handler may have closed it
        if (found == open.end() || !found->second.notify)
            continue;
        const MixerDevice::ChangeFn notify = found->second.notify;
        notify(handle, controlId);
    }
}

void PulseMixerDevice::Impl::OnEvent(Impl* impl, pa_subscription_event_type_t type, uint32_t index)
{
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SERVER: impl->QueryServer(); break;
    case PA_SUBSCRIPTION_EVENT_SINK:
        // Other devices' events are none of ours; a removed default is
        // followed by the server's own change event naming the next one.
        if (index == impl->sink.index || impl->sink.index == PA_INVALID_INDEX)
            impl->QueryVolume(impl->sink);
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        if (index == impl->source.index || impl->source.index == PA_INVALID_INDEX)
            impl->QueryVolume(impl->source);
        break;
    default: break;
    }
}

void PulseMixerDevice::Impl::OnServerInfo(pa_context*, const pa_server_info* info, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    if (info) {
        impl->serverKnown = true;
        impl->serverName = info->server_name ? info->server_name : "";
        impl->Resolve(impl->sink, info->default_sink_name);
        impl->Resolve(impl->source, info->default_source_name);
    }
    if (impl->serverRequery) {
        // Not from inside our own callback's operation: it is done once we return.
        if (impl->serverQuery) {
            pa_operation_unref(impl->serverQuery);
            impl->serverQuery = nullptr;
        }
        impl->QueryServer();
    }
}

void PulseMixerDevice::Impl::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    if (info) {
        impl->Apply(impl->sink, info->name, info->index, info->description, info->volume,
                    info->channel_map);
        return;
    }
    // eol > 0: the list is complete; eol < 0: the device is gone, which the
    // server's change event that follows resolves. Either way: done.
    (void)eol;
    if (impl->sink.query) {
        pa_operation_unref(impl->sink.query);
        impl->sink.query = nullptr;
    }
    impl->Finished(impl->sink);
}

void PulseMixerDevice::Impl::OnSourceInfo(pa_context*, const pa_source_info* info, int eol,
                                          void* self)
{
    auto* impl = static_cast<Impl*>(self);
    if (info) {
        impl->Apply(impl->source, info->name, info->index, info->description, info->volume,
                    info->channel_map);
        return;
    }
    (void)eol;
    if (impl->source.query) {
        pa_operation_unref(impl->source.query);
        impl->source.query = nullptr;
    }
    impl->Finished(impl->source);
}

ServerVolume* PulseMixerDevice::Impl::VolumeFor(MixerHandle handle,
                                                const MixerControlDetails& details, MixerResult& rc)
{
    if (!open.count(handle)) {
        rc = MMSYSERR_INVALHANDLE;
        return nullptr;
    }
    ServerVolume* volume = details.dwControlID == sink.controlId     ? &sink
                           : details.dwControlID == source.controlId ? &source
                                                                     : nullptr;
    if (!volume) {
        rc = MIXERR_INVALCONTROL;
        return nullptr;
    }
    // One or two values whatever the device's shape is now: the default may
    // have changed to another shape since the handle was opened.
    if (details.cbDetails != sizeof(uint32_t) || !details.paDetails || details.cChannels == 0 ||
        details.cChannels > 2) {
        rc = MMSYSERR_INVALPARAM;
        return nullptr;
    }
    if (!volume->known || !Ready()) {
        rc = MMSYSERR_ERROR;
        return nullptr;
    }
    rc = MMSYSERR_NOERROR;
    return volume;
}

PulseMixerDevice::PulseMixerDevice(std::shared_ptr<PulseContext> context)
    : m_impl(std::make_unique<Impl>())
{
    m_impl->shared = std::move(context);
    Impl* impl = m_impl.get();
    m_impl->stateSubscription =
        m_impl->shared->Subscribe([impl](PulseContext::State state) { impl->OnState(state); });
    m_impl->sink.controlId = kPulsePlaybackVolumeId;
    m_impl->source.capture = true;
    m_impl->source.controlId = kPulseCaptureVolumeId;
}

PulseMixerDevice::~PulseMixerDevice()
{
    m_impl->shared->Unsubscribe(m_impl->stateSubscription);
    Drop(m_impl->serverQuery);
    Drop(m_impl->sink.query);
    Drop(m_impl->source.query);
    m_impl->Stop();
}

uint32_t PulseMixerDevice::GetNumDevs()
{
    return m_impl->shared->IsReady() || m_impl->shared->Connect() ? 1 : 0;
}

MixerResult PulseMixerDevice::Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle)
{
    if (deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    if (!m_impl->shared->IsReady() && !m_impl->shared->Connect())
        return MMSYSERR_NODRIVER;
    m_impl->Start();
    if (!m_impl->Settled())
        m_impl->WaitSettled();
    if (!m_impl->serverKnown)
        return MMSYSERR_NODRIVER;

    OpenHandle entry;
    entry.notify = std::move(onControlChange);
    const std::string speakers = m_impl->sink.known ? m_impl->sink.description : "Speakers";
    const std::string microphone = m_impl->source.known ? m_impl->source.description : "Microphone";
    entry.destinations.push_back(MakeLine(kSpeakersLineId, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                          speakers, m_impl->sink.Channels(), 0, 1));
    entry.sources.emplace_back();
    entry.destinations.push_back(MakeLine(kWaveInLineId, MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                                          "Recording", m_impl->source.Channels(), 1, 0));
    entry.sources.push_back({MakeLine(kMicrophoneLineId, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                                      microphone, m_impl->source.Channels(), 0, 1)});
    for (uint32_t d = 0; d < entry.destinations.size(); ++d) {
        entry.destinations[d].dwDestination = d;
        for (uint32_t s = 0; s < entry.sources[d].size(); ++s) {
            entry.sources[d][s].dwDestination = d;
            entry.sources[d][s].dwSource = s;
        }
    }
    handle = m_impl->nextHandle++;
    m_impl->open.emplace(handle, std::move(entry));
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::GetDevCaps(MixerHandle handle, MixerCaps& caps)
{
    auto found = m_impl->open.find(handle);
    if (found == m_impl->open.end())
        return MMSYSERR_INVALHANDLE;
    caps.cDestinations = static_cast<uint32_t>(found->second.destinations.size());
    caps.szPname = m_impl->serverName.empty() ? "Sound server" : m_impl->serverName;
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags)
{
    auto found = m_impl->open.find(handle);
    if (found == m_impl->open.end())
        return MMSYSERR_INVALHANDLE;
    const OpenHandle& entry = found->second;
    if (line.dwDestination >= entry.destinations.size())
        return MIXERR_INVALLINE;
    if (flags == MIXER_GETLINEINFOF_DESTINATION) {
        line = entry.destinations[line.dwDestination];
        return MMSYSERR_NOERROR;
    }
    if (flags != MIXER_GETLINEINFOF_SOURCE)
        return MMSYSERR_INVALPARAM;
    const auto& sources = entry.sources[line.dwDestination];
    if (line.dwSource >= sources.size())
        return MIXERR_INVALLINE;
    line = sources[line.dwSource];
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::GetLineControlByType(MixerHandle handle, uint32_t lineId,
                                                   uint32_t controlType, MixerControl& control)
{
    if (!m_impl->open.count(handle))
        return MMSYSERR_INVALHANDLE;
    const ServerVolume* volume = lineId == kSpeakersLineId     ? &m_impl->sink
                                 : lineId == kMicrophoneLineId ? &m_impl->source
                                                               : nullptr;
    if (!volume || controlType != MIXERCONTROL_CONTROLTYPE_VOLUME)
        return MIXERR_INVALCONTROL;
    control = MixerControl{};
    control.dwControlID = volume->controlId;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.szName = volume->capture ? "Input Volume" : "Output Volume";
    control.szShortName = control.szName.substr(0, 16);
    control.dwMinimum = 0;
    control.dwMaximum = kMixerValueMax;
    control.cSteps = MixerStepCount(0, PA_VOLUME_NORM);
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::GetControlDetails(MixerHandle handle, MixerControlDetails& details)
{
    MixerResult rc;
    const ServerVolume* volume = m_impl->VolumeFor(handle, details, rc);
    if (!volume)
        return rc;
    const PulseSides sides = PulseVolumeToSides(volume->volume, volume->map);
    if (details.cChannels == 1) {
        details.paDetails[0] = std::max(sides.left, sides.right);
    } else {
        details.paDetails[0] = sides.left;
        details.paDetails[1] = sides.right;
    }
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::SetControlDetails(MixerHandle handle,
                                                const MixerControlDetails& details)
{
    MixerResult rc;
    ServerVolume* volume = m_impl->VolumeFor(handle, details, rc);
    if (!volume)
        return rc;
    for (uint32_t c = 0; c < details.cChannels; ++c)
        if (details.paDetails[c] > kMixerValueMax)
            return MIXERR_INVALVALUE;
    const uint32_t left = details.paDetails[0];
    const uint32_t right = details.cChannels > 1 ? details.paDetails[1] : left;
    pa_cvolume wanted = volume->volume;
    PulseSidesToVolume(wanted, volume->map, left, right);
    pa_operation* op = volume->capture
                           ? pa_context_set_source_volume_by_name(
                                 m_impl->context, volume->name.c_str(), &wanted, nullptr, nullptr)
                           : pa_context_set_sink_volume_by_name(
                                 m_impl->context, volume->name.c_str(), &wanted, nullptr, nullptr);
    if (!op)
        return MMSYSERR_ERROR;
    pa_operation_unref(op);
    volume->volume = wanted;
    ++volume->writes;
    volume->announce = true;
    return MMSYSERR_NOERROR;
}

MixerResult PulseMixerDevice::Close(MixerHandle handle)
{
    return m_impl->open.erase(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

std::shared_ptr<MixerDevice> CreatePulseMixerDevice()
{
    return std::make_shared<PulseMixerDevice>(PulseContext::Shared());
}

}  // namespace velnar
