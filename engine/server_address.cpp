#include "engine/server_address.h"

#include "iax/dial_string.h"

#include <arpa/inet.h>

#include <vector>

namespace velnar {

namespace {

struct Span {
    size_t offset = 0;
    size_t length = 0;
};

// Where the library's own parser finds the host: the parser cuts its copy in
// place, so the host's offset in the copy is its offset in the dial string.
bool FindHost(const std::string& dialString, Span* host)
{
    std::vector<char> copy(dialString.begin(), dialString.end());
    copy.push_back('\0');
    IaxDialFields fields{};
    if (IaxParseDialString(copy.data(), &fields) != 0 || !fields.host || !*fields.host)
        return false;
    host->offset = static_cast<size_t>(fields.host - copy.data());
    host->length = std::char_traits<char>::length(fields.host);
    return true;
}

}  // namespace

std::string HostToLookUp(const std::string& host)
{
    in_addr numeric{};
    // The forms the library reads as numbers need no resolver.
    if (host.empty() || inet_aton(host.c_str(), &numeric) != 0)
        return {};
    return host;
}

std::string ServerNameToLookUp(const std::string& dialString)
{
    Span span;
    if (!FindHost(dialString, &span))
        return {};
    return HostToLookUp(dialString.substr(span.offset, span.length));
}

std::string WithServerAddress(const std::string& dialString, const std::string& address)
{
    Span span;
    if (!FindHost(dialString, &span))
        return dialString;
    std::string result = dialString;
    result.replace(span.offset, span.length, address);
    return result;
}

}  // namespace velnar
