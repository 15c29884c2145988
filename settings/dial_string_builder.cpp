#include "settings/dial_string_builder.h"

namespace velnar {

std::string BuildDialString(const StoredSettings& settings, const std::string& number)
{
    std::string dialString = settings.user.empty()
                                 ? settings.server
                                 : settings.user + ":" + settings.password + "@" + settings.server;
    if (!number.empty())
        dialString += "/" + number;
    return dialString;
}

}  // namespace velnar
