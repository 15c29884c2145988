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

// The same for a sink named by name rather than the default one.
std::optional<std::vector<long>> SinkVolumeOf(const std::string& sink);
bool SetSinkVolumeOf(const std::string& sink, const std::string& volume);

// Any pactl command; its standard output, or nothing when it fails.
std::optional<std::string> Pactl(const std::vector<std::string>& arguments);

}  // namespace velnar::testing_audio
