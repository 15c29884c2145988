// The private audio server's volumes as pactl reports and sets them: the
// independent view against which the ALSA mixer tests check their writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velnar::testing_audio {

// True when PULSE_SERVER names a server that answers.
bool HaveAudioServer();

// Raw per-channel volumes (0..65536 is 0..100 %) of the default sink or
// source; nothing when pactl fails.
std::optional<std::vector<long>> SinkVolume();
std::optional<std::vector<long>> SourceVolume();

// volume: anything pactl takes ("40%", "20000 30000").
bool SetSinkVolume(const std::string& volume);
bool SetSourceVolume(const std::string& volume);

} // namespace velnar::testing_audio
