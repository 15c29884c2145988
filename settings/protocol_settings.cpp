#include "settings/protocol_settings.h"

#include <algorithm>
#include <sstream>

namespace velnar {

namespace {

const Codec kAllCodecs[] = {Codec::Ulaw, Codec::Alaw, Codec::Gsm};

bool CodecNamed(const std::string& name, Codec& codec)
{
    for (Codec candidate : kAllCodecs) {
        if (name == CodecName(candidate)) {
            codec = candidate;
            return true;
        }
    }
    return false;
}

std::vector<Codec> ReadCodecs(const std::string& list)
{
    std::vector<Codec> codecs;
    std::istringstream names(list);
    std::string name;
    Codec codec;
    while (std::getline(names, name, ','))
        if (CodecNamed(name, codec) &&
            std::find(codecs.begin(), codecs.end(), codec) == codecs.end())
            codecs.push_back(codec);
    for (Codec rest : kAllCodecs)
        if (std::find(codecs.begin(), codecs.end(), rest) == codecs.end())
            codecs.push_back(rest);
    return codecs;
}

}  // namespace

const char* CodecName(Codec codec)
{
    switch (codec) {
    case Codec::Ulaw: return "ulaw";
    case Codec::Alaw: return "alaw";
    case Codec::Gsm: return "gsm";
    }
    return "";
}

std::string CodecList(const std::vector<Codec>& codecs)
{
    std::string list;
    for (Codec codec : codecs)
        list += (list.empty() ? "" : ",") + std::string(CodecName(codec));
    return list;
}

ProtocolSettings ReadProtocolSettings(const SettingsKeys& keys)
{
    ProtocolSettings protocol;
    protocol.version = keys.Get(kProtocolKey) == "2" ? 2 : 1;
    protocol.registerForCalls = keys.Get(kRegisterKey) == "1";
    protocol.codecs = ReadCodecs(keys.Get(kCodecsKey));
    return protocol;
}

void StoreProtocolSettings(const ProtocolSettings& protocol, SettingsKeys& keys)
{
    const ProtocolSettings defaults;
    const bool asDefault =
        protocol.version == 1 && !protocol.registerForCalls && protocol.codecs == defaults.codecs;
    keys.Set(kProtocolKey, asDefault ? "" : std::to_string(protocol.version));
    keys.Set(kRegisterKey, asDefault ? "" : (protocol.registerForCalls ? "1" : "0"));
    keys.Set(kCodecsKey, asDefault ? "" : CodecList(protocol.codecs));
}

int DefaultServerPort(int version)
{
    return version == 2 ? kVersion2ServerPort : 5036;
}

}  // namespace velnar
