// Whether an ALSA PCM is the sound server's own plugin: sound that only
// passes through ALSA on its way to the server.
//
// That plugin can hang its caller for good when the server restarts during a
// call: the server connection's teardown, on the plugin's own thread, waits
// for a fragment of recorded sound that the plugin keeps half-read between
// two of our reads, while holding the lock that our next read needs. The
// program then talks to the server directly instead.
#pragma once

#include <string>

namespace velnar {

// Follows the PCM's definition (and the PCMs it passes sound to) in ALSA's
// configuration, without opening anything.
bool AlsaPcmIsSoundServerPlugin(const std::string& pcmName);

}  // namespace velnar
