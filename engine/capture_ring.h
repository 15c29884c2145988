// The capture ring: eight 20-ms buffers that circulate through the wave-in
// device for the whole life of the engine, with no allocation per buffer.
// Each time a buffer is queued it carries a fresh running number in its
// header's user word (from 1; nothing reads it back). The ring borrows the
// device; opening and closing it, and what is done with a filled buffer,
// are the engine's.
#pragma once

#include "engine/gsm_codec.h"
#include "platform/wave_device.h"

#include <QTimer>

#include <chrono>
#include <cstdint>

namespace velnar {

constexpr int kCaptureBufferCount = 8;

class CaptureRing {
public:
    explicit CaptureRing(WaveIn* device);  // not owned; may be null
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    // Forgets every header, for a device that has just been opened.
    void Clear();
    // Queues all eight buffers and starts the device: 0, or -1 at the first
    // buffer the device refuses (the device is then not started).
    int Start();
    // Stops the device and takes every buffer back (through the device's
    // callback).
    void Stop();
    // A buffer back from the device: unprepared, zeroed, numbered afresh,
    // and queued again only when `requeue` (device results not looked at:
    // a buffer the device refuses stays out until the next Start).
    void Recycle(WaveHeader* header, bool requeue);
    // The number the next queued buffer will carry.
    uint32_t NextSequence() const { return m_nCaptureSeq; }

private:
    // Between Start and Stop, a device that has given nothing back for a
    // second (its sound server went away) is started again once a second,
    // so that it comes back once it can be opened again, without a spin
    // while it cannot.
    void ReviveIfStalled();

    WaveIn* m_device;
    WaveHeader m_captureHeaders[kCaptureBufferCount] = {};
    uint8_t m_captureBuffers[kCaptureBufferCount][kPcmFrameBytes] = {};
    uint32_t m_nCaptureSeq = 1;
    bool m_running = false;
    QTimer m_watchdog;
    std::chrono::steady_clock::time_point m_lastSign{};  // start, delivery or revival
};

}  // namespace velnar
