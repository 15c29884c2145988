// An in-memory mixer for tests: any destinations and sources, any channel
// counts and controls, queries that fail on request, and change
// notifications that are queued (as the real mixer posts them) until the
// test delivers them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/mixer_device.h"

namespace velnar {

class FakeMixerDevice : public MixerDevice {
public:
    struct Control {
        MixerControl info;
        uint32_t lineId = 0;
        std::vector<uint32_t> values;  // channels (1 if uniform) x items (1 if not multiple)
    };
    struct Line {
        MixerLine info;
        std::vector<Line> sources;  // empty for a source
    };

    // Device shape. AddDestination / AddSource return the new line's ID
    // (AddSource 0 for a destination that does not exist).
    uint32_t AddDestination(uint32_t componentType, const std::string& name, uint32_t channels);
    uint32_t AddSource(uint32_t destinationIndex, uint32_t componentType, const std::string& name,
                       uint32_t channels);
    // Adds a control to a line and returns its ID (0: no such line).
    // Values start at minimum. A control claiming more than kMostValuesHeld
    // values (a device that lies) holds none: reading or writing it fails.
    static constexpr size_t kMostValuesHeld = size_t{1} << 20;
    uint32_t AddControl(uint32_t lineId, uint32_t controlType, const std::string& name,
                        uint32_t minimum, uint32_t maximum, uint32_t steps, uint32_t flags = 0,
                        uint32_t items = 0);

    // Values as stored in the device (left, right, or per item); empty for
    // an unknown control.
    std::vector<uint32_t>& Values(uint32_t controlId);
    // A change made by someone else: store and notify every open handle.
    void ChangeValues(uint32_t controlId, std::vector<uint32_t> values);
    // Runs the queued notifications (and those they cause); returns how many ran.
    size_t DeliverNotifications();
    size_t PendingNotifications() const { return m_pending.size(); }
    size_t OpenHandleCount() const { return m_open.size(); }
    bool IsOpen(MixerHandle handle) const { return m_open.count(handle) != 0; }

    // Failure switches (-1: none).
    uint32_t deviceCount = 1;
    bool failOpen = false;
    bool failDevCaps = false;
    int failDestinationQueryAt = -1;  // this destination index fails
    int failSourceQueryAt = -1;       // this source index (of any destination) fails
    bool failControlQuery = false;
    bool failGetDetails = false;
    bool failSetDetails = false;

    // What was asked.
    std::vector<uint32_t> destinationsQueried;
    std::vector<uint32_t> sourcesQueried;
    int openCalls = 0;
    size_t mostHandlesOpen = 0;  // the largest number of handles open at once
    int closeCalls = 0;
    int getDetailsCalls = 0;
    int setDetailsCalls = 0;

    uint32_t GetNumDevs() override;
    MixerResult Open(uint32_t deviceId, ChangeFn onControlChange, MixerHandle& handle) override;
    MixerResult GetDevCaps(MixerHandle handle, MixerCaps& caps) override;
    MixerResult GetLineInfo(MixerHandle handle, MixerLine& line, uint32_t flags) override;
    MixerResult GetLineControlByType(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                     MixerControl& control) override;
    MixerResult GetControlDetails(MixerHandle handle, MixerControlDetails& details) override;
    MixerResult SetControlDetails(MixerHandle handle, const MixerControlDetails& details) override;
    MixerResult Close(MixerHandle handle) override;

private:
    Line* FindLine(uint32_t lineId);
    Control* FindControl(uint32_t controlId);
    MixerResult CheckRequest(MixerHandle handle, const MixerControlDetails& details,
                             Control*& control);
    void NotifyAll(uint32_t controlId);

    std::vector<Line> m_destinations;
    std::vector<Control> m_controls;
    std::vector<uint32_t> m_noValues;
    std::map<MixerHandle, ChangeFn> m_open;
    std::deque<std::pair<MixerHandle, uint32_t>> m_pending;
    MixerHandle m_nextHandle = 1;
    uint32_t m_nextControlId = 1;
};

}  // namespace velnar
