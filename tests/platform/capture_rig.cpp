#include "capture_rig.h"

namespace velnar::test {

CaptureRig::CaptureRig(std::unique_ptr<WaveIn> in) : m_in(std::move(in))
{
    for (size_t i = 0; i < kRigBuffers; ++i) {
        m_headers[i].data = m_memory[i].data();
        m_headers[i].bufferLength = kRigBufferBytes;
        m_headers[i].user = i;
    }
}

int CaptureRig::Open()
{
    return m_in->Open([this](WaveHeader* header) {
        m_returned.push_back({header, header->bytesRecorded, header->flags});
        m_captured.append(reinterpret_cast<const char*>(header->data),
                          static_cast<qsizetype>(header->bytesRecorded));
        if (requeue)
            m_in->AddBuffer(header);
    });
}

bool CaptureRig::QueueAll()
{
    for (WaveHeader& header : m_headers)
        if (m_in->Prepare(&header) != WaveOk || m_in->AddBuffer(&header) != WaveOk)
            return false;
    return true;
}

}  // namespace velnar::test
