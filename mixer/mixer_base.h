// CMixerBase: binds one object to one control of the sound card's mixer
// (device 0). It finds a destination line by component type, optionally one
// of its source lines, then the line's first control of a control type, and
// keeps a value buffer through which that control is read and written.
// Nothing moves automatically: values travel only through GetMXDetails and
// SetMXDetails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/mixer_device.h"

namespace velnar {

class CMixerBase {
public:
    // Receives every diagnostic as (context, formatted text).
    using ReportFn = std::function<void(const std::string&, const std::string&)>;

    explicit CMixerBase(std::shared_ptr<MixerDevice> device);
    virtual ~CMixerBase();

    CMixerBase(const CMixerBase&) = delete;
    CMixerBase& operator=(const CMixerBase&) = delete;

    // Binds the object; change notifications of the whole device go to
    // notify from then on. srcType may be NO_SOURCE_LINE.
    bool Init(uint32_t destType, uint32_t srcType, uint32_t controlType,
              MixerDevice::ChangeFn notify);
    bool InitMXDetails();
    // Index of the first destination of componentType, or -1; line receives it.
    int FindDestLine(MixerLine& line, uint32_t componentType);
    // line: the found destination on input, the found source on output.
    int FindSrcLine(MixerLine& line, uint32_t componentType);
    bool GetMXDetails();
    bool SetMXDetails();
    void CloseMixer();

    static const char* ControlTypeName(uint32_t controlType);
    static const char* LineTypeName(uint32_t componentType);

    // Silent for the user. Diagnostics go to the sink set below, and to
    // standard error when VELNAR_MIXER_DEBUG is set in the environment.
    void MixerReport(const char* context, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    void SetReportSink(ReportFn sink);

    // The device used by the next Init (the one held so far stays until then).
    void SetMixerDevice(std::shared_ptr<MixerDevice> device);

protected:
    std::string m_LineName;
    std::string m_DestLineName;
    MixerHandle m_hMixer = 0;
    MixerControl m_Control;
    uint32_t m_LineChannels = 0;
    MixerControlDetails m_Details;
    std::unique_ptr<uint32_t[]> m_Buffer;

    std::shared_ptr<MixerDevice> m_device;
    std::shared_ptr<MixerDevice> m_openDevice;  // the device m_hMixer belongs to

private:
    ReportFn m_reportSink;
};

}  // namespace velnar
