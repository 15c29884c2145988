#include "engine/capture_ring.h"

#include <cstring>

namespace velnar {

namespace {

constexpr std::chrono::seconds kStallInterval{1};

}  // namespace

CaptureRing::CaptureRing(WaveIn* device) : m_device(device)
{
    m_watchdog.setInterval(kStallInterval);
    QObject::connect(&m_watchdog, &QTimer::timeout, [this] { ReviveIfStalled(); });
}

void CaptureRing::Clear()
{
    for (WaveHeader& header : m_captureHeaders)
        header = WaveHeader{};
}

int CaptureRing::Start()
{
    if (!m_device)
        return -1;
    for (int i = 0; i < kCaptureBufferCount; ++i) {
        WaveHeader& header = m_captureHeaders[i];
        header = WaveHeader{};
        header.data = m_captureBuffers[i];
        header.bufferLength = kPcmFrameBytes;
        header.user = m_nCaptureSeq++;
        if (m_device->Prepare(&header) != WaveOk || m_device->AddBuffer(&header) != WaveOk)
            return -1;
    }
    m_device->Start();
    m_running = true;
    m_watchdog.start();
    m_lastSign = std::chrono::steady_clock::now();
    return 0;
}

void CaptureRing::Stop()
{
    m_running = false;
    m_watchdog.stop();
    m_device->Stop();
    m_device->Reset();
}

void CaptureRing::ReviveIfStalled()
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_running || now - m_lastSign < kStallInterval)
        return;
    m_lastSign = now;
    m_device->Start();
}

void CaptureRing::Recycle(WaveHeader* header, bool requeue)
{
    m_lastSign = std::chrono::steady_clock::now();
    m_device->Unprepare(header);
    std::memset(header->data, 0, header->bufferLength);
    header->user = m_nCaptureSeq++;
    if (requeue && m_device->Prepare(header) == WaveOk)
        m_device->AddBuffer(header);
}

}  // namespace velnar
