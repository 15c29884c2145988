#include "platform/wave_header_rules.h"

namespace velnar {

namespace {

bool DescribesBuffer(const WaveHeader* header)
{
    return header && header->data && header->bufferLength > 0;
}

}  // namespace

int PrepareHeader(WaveHeader* header)
{
    if (!DescribesBuffer(header))
        return WaveErrInvalid;
    header->flags |= WavePrepared;
    return WaveOk;
}

int UnprepareHeader(WaveHeader* header)
{
    if (!header)
        return WaveErrInvalid;
    if (header->flags & WaveInQueue)
        return WaveErrStillPlaying;
    header->flags &= ~uint32_t{WavePrepared};
    return WaveOk;
}

int QueueHeader(WaveHeader* header)
{
    if (!header)
        return WaveErrInvalid;
    if (!(header->flags & WavePrepared))
        return WaveErrUnprepared;
    if (header->flags & WaveInQueue)
        return WaveErrStillPlaying;
    // The caller may have changed the buffer since preparing it.
    if (!DescribesBuffer(header))
        return WaveErrInvalid;
    header->flags &= ~uint32_t{WaveDone};
    header->flags |= WaveInQueue;
    header->bytesRecorded = 0;
    return WaveOk;
}

void FinishHeader(WaveHeader* header)
{
    header->flags &= ~uint32_t{WaveInQueue};
    header->flags |= WaveDone;
}

}  // namespace velnar
