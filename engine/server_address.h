// The server part of a dial string, for looking its name up before the
// library is handed the call.
#pragma once

#include <string>

namespace velnar {

// The server name of the dial string when it needs a look-up; empty when the
// server is already a numeric address or the dial string names none (the
// library then refuses it at once).
std::string ServerNameToLookUp(const std::string& dialString);
// The host when it is a name to look up; empty when it is already a numeric
// address, or empty.
std::string HostToLookUp(const std::string& host);
// The dial string with its server name replaced by the address, every other
// character kept.
std::string WithServerAddress(const std::string& dialString, const std::string& address);

}  // namespace velnar
