#include "mixer/mixer_base.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

namespace velnar {

namespace {

constexpr const char* kInitContext = "CMixerBase::Init";
constexpr const char* kDetailsContext = "CMixerBase::InitMXDetails";

bool UnitsAccepted(uint32_t controlType)
{
    switch (controlType & MIXERCONTROL_CT_UNITS_MASK) {
    case MIXERCONTROL_CT_UNITS_BOOLEAN:
    case MIXERCONTROL_CT_UNITS_SIGNED:
    case MIXERCONTROL_CT_UNITS_UNSIGNED:
    case MIXERCONTROL_CT_UNITS_DECIBELS:
    case MIXERCONTROL_CT_UNITS_PERCENT: return true;
    default: return false;
    }
}

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

}  // namespace

CMixerBase::CMixerBase(std::shared_ptr<MixerDevice> device) : m_device(std::move(device)) {}

CMixerBase::~CMixerBase()
{
    CloseMixer();
}

void CMixerBase::SetMixerDevice(std::shared_ptr<MixerDevice> device)
{
    m_device = std::move(device);
}

void CMixerBase::SetReportSink(ReportFn sink)
{
    m_reportSink = std::move(sink);
}

void CMixerBase::MixerReport(const char* context, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatV(format, args);
    va_end(args);
    if (m_reportSink)
        m_reportSink(context, text);
    if (std::getenv("VELNAR_MIXER_DEBUG"))
        std::fprintf(stderr, "%s: %s\n", context, text.c_str());
}

bool CMixerBase::Init(uint32_t destType, uint32_t srcType, uint32_t controlType,
                      MixerDevice::ChangeFn notify)
{
    if (!m_device || m_device->GetNumDevs() == 0) {
        MixerReport(kInitContext, "No mixer device present");
        return false;
    }
    if (m_hMixer) {
        m_openDevice->Close(m_hMixer);
        m_hMixer = 0;
        m_openDevice.reset();
    }
    if (m_device->Open(0, std::move(notify), m_hMixer) != MMSYSERR_NOERROR) {
        m_hMixer = 0;
        MixerReport(kInitContext, "Could not open mixer device");
        return false;
    }
    m_openDevice = m_device;

    MixerLine line;
    if (FindDestLine(line, destType) == -1) {
        MixerReport(kInitContext, "Warning: the destination line \n%s\nwas not found.",
                    LineTypeName(destType));
        CloseMixer();
        return false;
    }
    m_DestLineName = line.szName;

    if (srcType != NO_SOURCE_LINE && FindSrcLine(line, srcType) == -1) {
        MixerReport(
            kInitContext,
            "Warning: the source line \n%s\n not found.\n\n(Associated to Destination line \n%s)",
            LineTypeName(srcType), m_DestLineName.c_str());
        CloseMixer();
        return false;
    }
    m_LineChannels = line.cChannels;
    m_LineName = line.szName;

    if (line.cControls == 0) {
        MixerReport(kInitContext, "No controls available for this audio line: %s",
                    line.szName.c_str());
        CloseMixer();
        return false;
    }
    if (m_openDevice->GetLineControlByType(m_hMixer, line.dwLineID, controlType, m_Control) !=
        MMSYSERR_NOERROR) {
        MixerReport(kInitContext,
                    "Could not find specified mixer control. Associated Windows control will be "
                    "disabled.\nControl type: %s,\n\nDest line type: %s,\nSrc  line type: %s\n",
                    ControlTypeName(controlType), LineTypeName(destType), LineTypeName(srcType));
        CloseMixer();
        return false;
    }
    return InitMXDetails();
}

bool CMixerBase::InitMXDetails()
{
    m_Details.dwControlID = m_Control.dwControlID;
    m_Details.cMultipleItems = m_Control.cMultipleItems;
    m_Details.cChannels =
        (m_Control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : m_LineChannels;

    if (!UnitsAccepted(m_Control.dwControlType)) {
        MixerReport(kDetailsContext, "Control uses unknown units.");
        CloseMixer();
        return false;
    }
    m_Details.cbDetails = sizeof(uint32_t);

    const uint64_t items =
        (m_Control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? m_Control.cMultipleItems : 1;
    const uint64_t valueCount = uint64_t{m_Details.cChannels} * items;
    m_Buffer.reset();
    m_Details.paDetails = nullptr;
    // A request whose size a 32-bit byte count cannot express can't be served.
    if (valueCount * sizeof(uint32_t) > UINT32_MAX) {
        MixerReport(kDetailsContext, "Memory allocation error.");
        CloseMixer();
        return false;
    }
    if (valueCount > 0) {
        m_Buffer.reset(new (std::nothrow) uint32_t[valueCount]());
        if (!m_Buffer) {
            MixerReport(kDetailsContext, "Memory allocation error.");
            CloseMixer();
            return false;
        }
    }
    m_Details.paDetails = m_Buffer.get();
    return true;
}

int CMixerBase::FindDestLine(MixerLine& line, uint32_t componentType)
{
    MixerCaps caps;
    if (m_openDevice->GetDevCaps(m_hMixer, caps) != MMSYSERR_NOERROR || caps.cDestinations == 0)
        return -1;
    for (uint32_t i = 0; i < caps.cDestinations; ++i) {
        line = MixerLine{};
        line.dwSource = 0;
        line.dwDestination = i;
        if (m_openDevice->GetLineInfo(m_hMixer, line, MIXER_GETLINEINFOF_DESTINATION) !=
            MMSYSERR_NOERROR)
            return -1;
        if (line.dwComponentType == componentType)
            return static_cast<int>(i);
    }
    return -1;
}

int CMixerBase::FindSrcLine(MixerLine& line, uint32_t componentType)
{
    const uint32_t destination = line.dwDestination;
    const uint32_t connections = line.cConnections;
    for (uint32_t j = 0; j < connections; ++j) {
        line = MixerLine{};
        line.dwSource = j;
        line.dwDestination = destination;
        if (m_openDevice->GetLineInfo(m_hMixer, line, MIXER_GETLINEINFOF_SOURCE) !=
            MMSYSERR_NOERROR)
            return -1;
        if (line.dwComponentType == componentType)
            return static_cast<int>(j);
    }
    return -1;
}

bool CMixerBase::GetMXDetails()
{
    if (!m_hMixer)
        return false;
    return m_openDevice->GetControlDetails(m_hMixer, m_Details) == MMSYSERR_NOERROR;
}

bool CMixerBase::SetMXDetails()
{
    if (!m_hMixer)
        return false;
    return m_openDevice->SetControlDetails(m_hMixer, m_Details) == MMSYSERR_NOERROR;
}

void CMixerBase::CloseMixer()
{
    if (m_hMixer) {
        m_openDevice->Close(m_hMixer);
        m_hMixer = 0;
    }
    m_openDevice.reset();
    m_Buffer.reset();
    m_Details.paDetails = nullptr;
}

}  // namespace velnar
