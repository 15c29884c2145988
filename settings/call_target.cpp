#include "settings/call_target.h"

#include "settings/protocol_settings.h"

namespace velnar {

namespace {

int ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::stoi(text);
    return port <= 65535 ? port : 0;
}

}  // namespace

void SplitServerAddress(const std::string& address, std::string& host, int& port)
{
    const size_t colon = address.find(':');
    host = address.substr(0, colon);
    port = colon == std::string::npos ? kDefaultServerPort : ParsePort(address.substr(colon + 1));
}

CallTarget MakeCallTarget(const StoredSettings& settings, const std::string& number)
{
    CallTarget target;
    target.user = settings.user;
    target.password = settings.password;
    SplitServerAddress(settings.server, target.host, target.port);
    // Version 2's servers listen on a port of their own.
    const int version = ReadProtocolSettings(settings.keys).version;
    if (settings.server.find(':') == std::string::npos)
        target.port = DefaultServerPort(version);
    const size_t at = number.find('@');
    target.number = number.substr(0, at);
    target.context = at == std::string::npos ? std::string() : number.substr(at + 1);
    return target;
}

bool IsEmptyTarget(const CallTarget& target)
{
    const bool defaultPort =
        target.port == kDefaultServerPort || target.port == kVersion2ServerPort;
    return target.host.empty() && defaultPort && target.user.empty() && target.number.empty() &&
           target.context.empty();
}

bool IsDialableNumber(const std::string& number)
{
    for (unsigned char c : number)
        if (c == ';' || c == '=' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool FitsSecretLength(const std::string& text)
{
    return text.size() <= kMaxSecretChars;
}

}  // namespace velnar
