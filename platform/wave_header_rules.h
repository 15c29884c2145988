// The bookkeeping of WaveHeader flags shared by every wave device: which
// headers may be prepared, queued or unprepared, and how a device hands a
// header back. Devices check that they are open first, then apply these.
#pragma once

#include "platform/wave_device.h"

namespace velnar {

// Marks the header prepared. WaveErrInvalid for a null header, a null data
// pointer or a zero length.
int PrepareHeader(WaveHeader* header);

// Clears the prepared mark. WaveErrStillPlaying while a device holds it.
int UnprepareHeader(WaveHeader* header);

// Checks that a header may be queued in a device and, if so, marks it
// queued: done cleared, nothing recorded yet.
int QueueHeader(WaveHeader* header);

// The device is finished with the header: out of the queue, done.
void FinishHeader(WaveHeader* header);

}  // namespace velnar
