// ALSA's own error messages, caught instead of printed. Left alone, the
// library prints every step of a failed configuration lookup to standard
// error (some forty lines when a machine has neither a sound server nor a
// card); the program prints one line naming the device instead.
#pragma once

#include <string>

namespace velnar {

// Routes ALSA's messages to us from now on (once per process), and forgets
// those caught so far on this thread. Call before an open that may fail.
void CatchAlsaErrors();

// Prints "velnar: cannot open ALSA device "<name>": <reason>" on standard
// error, the reason being ALSA's text for the error code and, in brackets,
// the first message ALSA gave since CatchAlsaErrors. The same line is not
// printed twice in a row (a device tried again at every call).
void ReportAlsaOpenFailure(const std::string& name, int error);

}  // namespace velnar
