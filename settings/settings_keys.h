// The settings file's "key=value" lines, after its address word and noise
// number: the later additions to the settings (the microphone and speaker
// chosen in Settings, and whatever comes next) without changing the two
// words every earlier file holds. Lines the reader does not understand are
// skipped; keys it does not know are kept, in their order, so that a file
// written by a newer program keeps its settings when an older one saves.
#pragma once

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace velnar {

inline constexpr const char* kMicrophoneKey = "microphone";
inline constexpr const char* kSpeakerKey = "speaker";

class SettingsKeys {
public:
    // Reads "key=value" lines to the end of the stream. A line without "="
    // or with an empty key is skipped; spaces around the key are not part
    // of it; the value is the rest of the line as it stands (a trailing
    // carriage return dropped). Of a key given twice the last value counts.
    void Read(std::istream& lines);
    // One "key=value" line per key, each ending in a newline; "" when empty.
    std::string Lines() const;

    // The value of key; "" when the key is absent.
    std::string Get(const std::string& key) const;
    // Sets key to value; an empty value removes the key. Line breaks in a
    // value would start lines of their own: they are dropped.
    void Set(const std::string& key, const std::string& value);
    bool Empty() const { return m_entries.empty(); }

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
};

}  // namespace velnar
