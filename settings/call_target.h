// What a Call dials, as separate fields: the working copy of the settings
// and the typed number. Fields are never joined into one text, so a
// password may hold any printable character.
#pragma once

#include "settings/settings_file.h"

#include <string>

namespace velnar {

inline constexpr int kDefaultServerPort = 5036;
// The longest user name or password the phone can answer a challenge with.
inline constexpr size_t kMaxSecretChars = 79;

struct CallTarget {
    std::string user;
    std::string password;
    std::string host;
    int port = kDefaultServerPort;  // 0 when the address names no usable port
    std::string number;
    std::string context;  // the part of the number after an at-sign
};

// Server address "host[:port]": the port must be a decimal number from 1 to
// 65535; anything else (letters, 0, 70000, nothing after the colon) gives
// port 0, which no call goes to.
void SplitServerAddress(const std::string& address, std::string& host, int& port);

CallTarget MakeCallTarget(const StoredSettings& settings, const std::string& number);

// Nothing to dial: no server, no user name and no number.
bool IsEmptyTarget(const CallTarget& target);

// A number that the call request can carry as it is: no ';', '=' or control
// character.
bool IsDialableNumber(const std::string& number);

// A user name or password that fits what the phone can keep for answering a
// challenge.
bool FitsSecretLength(const std::string& text);

}  // namespace velnar
