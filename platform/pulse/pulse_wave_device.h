// The sound-server wave devices: the phone's own streams on the server
// (PulseAudio, or PipeWire through its PulseAudio service), named "Velnar"
// with the icon "velnar" and the media role "phone", so that the desktop
// can route them, and its echo cancelling and music corking recognise a
// call. They behave as the ALSA devices do (alsa_wave_device.h); what
// differs:
//
// Both run on the Qt event loop of the thread that opens them, through the
// shared server connection (pulse_context.h). Open connects to the server
// (a short bounded wait) and fails with WaveErrNoDevice when none answers.
//
// Nothing runs and nothing wakes while there is no call: both streams are
// made at Open and kept corked (capture's from Stop/Reset to the next Start,
// so that every start brings sound at the server's next period; a stream
// made afresh may wait seconds for its first sound on a quiet source), the
// playback stream while paused and once what it was given has played out.
// A corked stream is held by the server, not running.
//
// Capture asks the server for one 20-ms fragment at a time; fragments of
// any other size are shared out to the queued headers all the same.
// Playback: a block counts as played (WaveDone) once the server has taken
// it; the server takes at most about 45 ms ahead of what is heard, so that
// the caller's own pre-filling sets the delay. Pause hands nothing more over
// and lets what the server has taken (played, as far as the caller knows)
// play out, then corks the stream; Reset drops what the server holds.
//
// A server that goes away, or a stream it ends, fails the device as a
// vanished ALSA device does: capture delivers nothing more until Reset or
// Close returns its headers; playback marks every block done at once.
// Start (capture) and Restart (playback) connect afresh; so does Open after
// Close.
#pragma once

#include "platform/wave_device.h"

#include <memory>

namespace velnar {

std::unique_ptr<WaveIn> MakePulseWaveIn();
std::unique_ptr<WaveOut> MakePulseWaveOut();

}  // namespace velnar
