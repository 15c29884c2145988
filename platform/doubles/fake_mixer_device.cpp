#include "platform/doubles/fake_mixer_device.h"

#include <algorithm>

namespace velnar {

uint32_t FakeMixerDevice::AddDestination(uint32_t componentType, const std::string& name,
                                         uint32_t channels)
{
    Line line;
    line.info.dwDestination = static_cast<uint32_t>(m_destinations.size());
    line.info.dwLineID = 0xFFFF0000u + line.info.dwDestination;
    line.info.dwComponentType = componentType;
    line.info.cChannels = channels;
    line.info.szName = name;
    line.info.szShortName = name.substr(0, 16);
    m_destinations.push_back(line);
    return line.info.dwLineID;
}

uint32_t FakeMixerDevice::AddSource(uint32_t destinationIndex, uint32_t componentType,
                                    const std::string& name, uint32_t channels)
{
    if (destinationIndex >= m_destinations.size())
        return 0;
    Line& destination = m_destinations[destinationIndex];
    Line source;
    source.info.dwDestination = destinationIndex;
    source.info.dwSource = static_cast<uint32_t>(destination.sources.size());
    source.info.dwLineID = (destinationIndex << 16) | source.info.dwSource;
    source.info.dwComponentType = componentType;
    source.info.cChannels = channels;
    source.info.szName = name;
    source.info.szShortName = name.substr(0, 16);
    destination.sources.push_back(source);
    destination.info.cConnections = static_cast<uint32_t>(destination.sources.size());
    return source.info.dwLineID;
}

uint32_t FakeMixerDevice::AddControl(uint32_t lineId, uint32_t controlType, const std::string& name,
                                     uint32_t minimum, uint32_t maximum, uint32_t steps,
                                     uint32_t flags, uint32_t items)
{
    Line* line = FindLine(lineId);
    if (!line)
        return 0;
    Control control;
    control.lineId = lineId;
    control.info.dwControlID = m_nextControlId++;
    control.info.dwControlType = controlType;
    control.info.fdwControl = flags;
    control.info.cMultipleItems = items;
    control.info.szName = name;
    control.info.szShortName = name.substr(0, 16);
    control.info.dwMinimum = minimum;
    control.info.dwMaximum = maximum;
    control.info.cSteps = steps;
    const uint32_t channels = (flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line->info.cChannels;
    const uint32_t perChannel = (flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? items : 1;
    const size_t valueCount = size_t{channels} * perChannel;
    if (valueCount <= kMostValuesHeld)
        control.values.assign(valueCount, minimum);
    m_controls.push_back(control);
    ++line->info.cControls;
    return control.info.dwControlID;
}

std::vector<uint32_t>& FakeMixerDevice::Values(uint32_t controlId)
{
    Control* control = FindControl(controlId);
    if (!control) {
        m_noValues.clear();
        return m_noValues;
    }
    return control->values;
}

void FakeMixerDevice::ChangeValues(uint32_t controlId, std::vector<uint32_t> values)
{
    Values(controlId) = std::move(values);
    NotifyAll(controlId);
}

size_t FakeMixerDevice::DeliverNotifications()
{
    // A fader answers a notification by reading, never by writing, so this
    // ends; the bound only keeps a faulty caller from looping forever.
    size_t delivered = 0;
    while (!m_pending.empty() && delivered < 10000) {
        const auto [handle, controlId] = m_pending.front();
        m_pending.pop_front();
        auto open = m_open.find(handle);
        if (open == m_open.end())
            continue;
        const ChangeFn notify = open->second;
        if (notify)
            notify(handle, controlId);
        ++delivered;
    }
    return delivered;
}

uint32_t FakeMixerDevice::GetNumDevs()
{
    return deviceCount;
}

MixerResult FakeMixerDevice::Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle)
{
    ++openCalls;
    if (deviceId >= deviceCount)
        return MMSYSERR_BADDEVICEID;
    if (failOpen)
        return MMSYSERR_ERROR;
    handle = m_nextHandle++;
    m_open.emplace(handle, std::move(onControlChange));
    mostHandlesOpen = std::max(mostHandlesOpen, m_open.size());
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::GetDevCaps(MixerHandle handle, MixerCaps& caps)
{
    if (!IsOpen(handle))
        return MMSYSERR_INVALHANDLE;
    if (failDevCaps)
        return MMSYSERR_ERROR;
    caps.cDestinations = static_cast<uint32_t>(m_destinations.size());
    caps.szPname = "In-memory mixer";
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags)
{
    if (!IsOpen(handle))
        return MMSYSERR_INVALHANDLE;
    if (line.dwDestination >= m_destinations.size())
        return MIXERR_INVALLINE;
    const Line& destination = m_destinations[line.dwDestination];
    if (flags == MIXER_GETLINEINFOF_DESTINATION) {
        destinationsQueried.push_back(line.dwDestination);
        if (static_cast<int>(line.dwDestination) == failDestinationQueryAt)
            return MMSYSERR_ERROR;
        line = destination.info;
        return MMSYSERR_NOERROR;
    }
    if (flags != MIXER_GETLINEINFOF_SOURCE)
        return MMSYSERR_INVALPARAM;
    sourcesQueried.push_back(line.dwSource);
    if (line.dwSource >= destination.sources.size())
        return MIXERR_INVALLINE;
    if (static_cast<int>(line.dwSource) == failSourceQueryAt)
        return MMSYSERR_ERROR;
    line = destination.sources[line.dwSource].info;
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::GetLineControlByType(MixerHandle handle, uint32_t lineId,
                                                  uint32_t controlType, MixerControl& control)
{
    if (!IsOpen(handle))
        return MMSYSERR_INVALHANDLE;
    if (!FindLine(lineId))
        return MIXERR_INVALLINE;
    if (failControlQuery)
        return MMSYSERR_ERROR;
    for (const Control& candidate : m_controls) {
        if (candidate.lineId == lineId && candidate.info.dwControlType == controlType) {
            control = candidate.info;
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALCONTROL;
}

MixerResult FakeMixerDevice::CheckRequest(MixerHandle handle, const MixerControlDetails& details,
                                          Control*& control)
{
    if (!IsOpen(handle))
        return MMSYSERR_INVALHANDLE;
    control = FindControl(details.dwControlID);
    if (!control)
        return MIXERR_INVALCONTROL;
    const uint32_t perChannel =
        (control->info.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? details.cMultipleItems : 1;
    const size_t requested = size_t{details.cChannels} * perChannel;
    if (details.cbDetails != sizeof(uint32_t) || !details.paDetails || requested == 0 ||
        requested > control->values.size())
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::GetControlDetails(MixerHandle handle, MixerControlDetails& details)
{
    ++getDetailsCalls;
    Control* control = nullptr;
    if (const MixerResult result = CheckRequest(handle, details, control);
        result != MMSYSERR_NOERROR)
        return result;
    if (failGetDetails)
        return MMSYSERR_ERROR;
    const uint32_t perChannel =
        (control->info.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? details.cMultipleItems : 1;
    std::copy_n(control->values.begin(), size_t{details.cChannels} * perChannel, details.paDetails);
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::SetControlDetails(MixerHandle handle,
                                               const MixerControlDetails& details)
{
    ++setDetailsCalls;
    Control* control = nullptr;
    if (const MixerResult result = CheckRequest(handle, details, control);
        result != MMSYSERR_NOERROR)
        return result;
    if (failSetDetails)
        return MMSYSERR_ERROR;
    const uint32_t perChannel =
        (control->info.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? details.cMultipleItems : 1;
    std::copy_n(details.paDetails, size_t{details.cChannels} * perChannel, control->values.begin());
    NotifyAll(control->info.dwControlID);
    return MMSYSERR_NOERROR;
}

MixerResult FakeMixerDevice::Close(MixerHandle handle)
{
    ++closeCalls;
    return m_open.erase(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

FakeMixerDevice::Line* FakeMixerDevice::FindLine(uint32_t lineId)
{
    for (Line& destination : m_destinations) {
        if (destination.info.dwLineID == lineId)
            return &destination;
        for (Line& source : destination.sources)
            if (source.info.dwLineID == lineId)
                return &source;
    }
    return nullptr;
}

FakeMixerDevice::Control* FakeMixerDevice::FindControl(uint32_t controlId)
{
    for (Control& control : m_controls)
        if (control.info.dwControlID == controlId)
            return &control;
    return nullptr;
}

void FakeMixerDevice::NotifyAll(uint32_t controlId)
{
    for (const auto& [handle, notify] : m_open)
        m_pending.emplace_back(handle, controlId);
}

}  // namespace velnar
