#include "engine/capture_ring.h"

#include <cstring>

namespace velnar {

CaptureRing::CaptureRing(WaveIn* device) : m_device(device) {}

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
    return 0;
}

void CaptureRing::Recycle(WaveHeader* header, bool requeue)
{
    m_device->Unprepare(header);
    std::memset(header->data, 0, header->bufferLength);
    header->user = m_nCaptureSeq++;
    if (requeue && m_device->Prepare(header) == WaveOk)
        m_device->AddBuffer(header);
}

}  // namespace velnar
