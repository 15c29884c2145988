// Which protocol version the phone speaks, whether it registers with the
// server to receive calls, and the order in which it offers codecs: stored as
// "protocol=", "register=" and "codecs=" lines of the settings file. A file
// without them is a version-1 file and loads as one.
#pragma once

#include "settings/settings_keys.h"

#include <string>
#include <vector>

namespace velnar {

inline constexpr const char* kProtocolKey = "protocol";
inline constexpr const char* kRegisterKey = "register";
inline constexpr const char* kCodecsKey = "codecs";
inline constexpr int kVersion2ServerPort = 4569;

enum class Codec { Ulaw, Alaw, Gsm };

struct ProtocolSettings {
    int version = 1;                // 1 or 2
    bool registerForCalls = false;  // version 2 only
    // Most preferred first; every codec once. Version 1 speaks GSM only.
    std::vector<Codec> codecs = {Codec::Ulaw, Codec::Alaw, Codec::Gsm};
};

// Unknown or malformed values fall back to the defaults: version 1, no
// registration, the default order (codecs a value leaves out follow it in
// their default order).
ProtocolSettings ReadProtocolSettings(const SettingsKeys& keys);
// Writes the three keys; a default version-1 choice writes none, so that a
// file that never had them stays as it was.
void StoreProtocolSettings(const ProtocolSettings& protocol, SettingsKeys& keys);

// "ulaw", "alaw", "gsm"; the names the "codecs=" line lists, comma-separated.
const char* CodecName(Codec codec);
std::string CodecList(const std::vector<Codec>& codecs);

// The server port when the address names none: 5036 for version 1, 4569 for 2.
int DefaultServerPort(int version);

}  // namespace velnar
