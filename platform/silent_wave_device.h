// A silent wave device pair for machines without sound (the console phone's
// "--audio none"). Both open like real devices, so the engine advertises
// GSM as usual, and keep the same header bookkeeping, but move no sound:
//
// - capture fills the first queued buffer with silence every 20 ms while
//   started and hands it back through the callback, from the event loop;
// - playback takes one written block every 20 ms while not paused, marks it
//   done and throws the sound away.
//
// Both are driven by timers on the Qt event loop of the thread that uses
// them; nothing is called back from inside an interface call.
#pragma once

#include "platform/wave_device.h"

#include <memory>

namespace velnar {

std::unique_ptr<WaveIn> MakeSilentWaveIn();
std::unique_ptr<WaveOut> MakeSilentWaveOut();

}  // namespace velnar
