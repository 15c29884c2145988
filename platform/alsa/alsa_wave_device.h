// The ALSA wave devices. MakeAlsaWaveIn()/MakeAlsaWaveOut() without a name
// open ALSA's "default" PCM, which on a desktop reaches PulseAudio or
// PipeWire; the overloads with a name open another PCM.
//
// Both devices are driven by the Qt event loop of the thread that opens
// them (ALSA's poll descriptors behind QSocketNotifiers); there is no audio
// thread. The device period is 20 ms, one capture buffer or playback block.
//
// Capture: the device captures only between Start and Stop; while stopped
// nothing is read and its descriptors are not watched. Stop pauses the
// device where it can pause (the sound-server plugin keeps its record stream
// then, so that every Start delivers its first buffer within a period or
// two), else stops it. Between Start and Stop the queued headers are filled
// in order, a full header is marked done and posted to the DoneFn. Sound
// captured while no header is queued is dropped; a Start keeps at most the
// last period captured before it. Stop returns the header being filled if
// it holds anything;
// Reset returns every queued header. After Close the DoneFn is never called,
// also not for headers whose completion was already posted.
//
// Playback: a block counts as played (WaveDone) once all its bytes have been
// handed to ALSA; at most the device buffer (80 ms) is then still to be heard.
// Nothing is handed over while paused, so written blocks stay pending until
// Restart. Pause uses the device's own pause where it has one; otherwise the
// device buffer is dropped (up to 80 ms of sound lost) and refilled on
// Restart. Reset drops everything, marks every block done and keeps the
// paused state.
//
// Overruns and underruns are recovered without the caller noticing. A device
// that fails for good (unplugged, server gone) stays open but idle: capture
// delivers nothing more until Reset or Close returns its headers; playback
// accepts blocks and marks them done at once, so nothing piles up and no
// caller is stopped by an error mid-call. Start (capture) and Restart
// (playback) try to open the device afresh.
#pragma once

#include "platform/wave_device.h"

#include <memory>
#include <string>

namespace velnar {

std::unique_ptr<WaveIn> MakeAlsaWaveIn();
std::unique_ptr<WaveOut> MakeAlsaWaveOut();
std::unique_ptr<WaveIn> MakeAlsaWaveIn(const std::string& pcmName);
std::unique_ptr<WaveOut> MakeAlsaWaveOut(const std::string& pcmName);

}  // namespace velnar
