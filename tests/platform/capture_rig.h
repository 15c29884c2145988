// Eight 320-byte capture buffers around a WaveIn, as the phone uses them,
// with a record of what came back.
#pragma once

#include "platform/wave_device.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace velnar::test {

constexpr size_t kRigBuffers = 8;
constexpr uint32_t kRigBufferBytes = 320;

class CaptureRig {
public:
    explicit CaptureRig(std::unique_ptr<WaveIn> in);

    // Opens the device with a callback that records each returned header
    // and, while `requeue` is set, queues it again.
    int Open();
    // Prepares and queues every buffer; false if the device refused one.
    bool QueueAll();

    WaveIn& In() { return *m_in; }
    std::unique_ptr<WaveIn>& Device() { return m_in; }
    WaveHeader& Header(size_t i) { return m_headers[i]; }

    struct Returned {
        WaveHeader* header;
        uint32_t bytesRecorded;
        uint32_t flags;  // as they were when the callback ran
    };
    const std::vector<Returned>& ReturnedBuffers() const { return m_returned; }
    // The bytes of every returned buffer, in the order they came back.
    const QByteArray& Captured() const { return m_captured; }

    bool requeue = true;

private:
    std::unique_ptr<WaveIn> m_in;
    std::array<std::array<uint8_t, kRigBufferBytes>, kRigBuffers> m_memory{};
    std::array<WaveHeader, kRigBuffers> m_headers{};
    std::vector<Returned> m_returned;
    QByteArray m_captured;
};

}  // namespace velnar::test
