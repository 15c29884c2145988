// The settings file "VOIP.set": one address word (user ":" password "@"
// server) and the noise position of the Settings slider.
//
// The file keeps its historical plain-text form so that existing files still
// load; because it holds the password, it is written readable by its owner
// only.
#pragma once

#include "settings/bounded_read.h"

#include <string>

namespace velnar {

inline constexpr const char* kSettingsFileName = "VOIP.set";
inline constexpr int kDefaultNoisePosition = 1000;

struct StoredSettings {
    std::string user;
    std::string password;
    std::string server;
    int noisePosition = kDefaultNoisePosition;
};

// Reads the file at path into target. When the file cannot be opened, target
// is left as it was and false is returned. A file without a second word
// leaves target.noisePosition as the caller set it; a second word that is not
// a number sets it to kDefaultNoisePosition.
// The file is read as ReadBoundedFile reads it; one that is refused (not a
// regular file, too large) is reported on standard error as
// "velnar: cannot read VOIP.set: <why>" and treated as unreadable.
bool LoadSettingsFile(const std::string& path, StoredSettings& target);
ReadOutcome ReadSettingsFile(const std::string& path, StoredSettings& target);

// Creates or truncates the file at path (mode 0600, also for a file that
// existed with wider permissions) and writes values into it. Returns false
// when the file cannot be opened or written (or is no regular file), with
// the reason in why.
bool SaveSettingsFile(const std::string& path, const StoredSettings& values,
                      std::string* why = nullptr);

// Splits an address word into user name, password and server address: at
// the last at-sign, then at the first colon before it.
void SplitAddressWord(const std::string& word, StoredSettings& target);

// The noise-gate threshold for a slider position: 32767 to the power
// (1000 - position) / 1000, truncated; 32767 at 0, 1 at 1000. Positions far
// below 0 are capped at the largest int rather than overflowing.
int NoiseThreshold(int noisePosition);

}  // namespace velnar
