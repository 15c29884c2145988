// The dial string a Call places, built from the working copy of the settings
// and the number: user name ":" password "@" server address when a user name
// is set, otherwise the server address alone; then "/" and the number when
// one is given. Both programs, the window and the console phone, dial
// through this one function.
#pragma once

#include "settings/settings_file.h"

#include <string>

namespace velnar {

// An empty result means there is nothing to dial (no server, no user name,
// no number); the caller then places no call.
std::string BuildDialString(const StoredSettings& settings, const std::string& number);

}  // namespace velnar
