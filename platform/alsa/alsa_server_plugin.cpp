#include "platform/alsa/alsa_server_plugin.h"

#include "platform/alsa/alsa_errors.h"

#include <alsa/asoundlib.h>

#include <string>

namespace velnar {

namespace {

// Definitions that only pass sound on to another PCM are followed this deep.
constexpr int kMaxSlaveDepth = 8;

std::string StringField(snd_config_t* node, const char* key)
{
    snd_config_t* field = nullptr;
    const char* text = nullptr;
    if (snd_config_search(node, key, &field) < 0 || snd_config_get_string(field, &text) < 0 ||
        !text)
        return {};
    return text;
}

bool RoutesToServer(snd_config_t* definition, int depth);

// A slave given by name is looked up as a PCM definition of its own; one
// given in place is a definition itself.
bool SlaveRoutesToServer(snd_config_t* definition, int depth)
{
    snd_config_t* slave = nullptr;
    if (snd_config_search(definition, "slave.pcm", &slave) < 0)
        return false;
    if (snd_config_get_type(slave) == SND_CONFIG_TYPE_COMPOUND)
        return RoutesToServer(slave, depth + 1);
    const char* name = nullptr;
    if (snd_config_get_string(slave, &name) < 0 || !name)
        return false;
    snd_config_t* named = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", name, &named) < 0)
        return false;
    const bool routes = RoutesToServer(named, depth + 1);
    snd_config_delete(named);
    return routes;
}

bool RoutesToServer(snd_config_t* definition, int depth)
{
    if (depth > kMaxSlaveDepth)
        return false;
    const std::string type = StringField(definition, "type");
    if (type == "pulse")
        return true;
    return SlaveRoutesToServer(definition, depth);
}

}  // namespace

// A definition that cannot be looked up (a card that is not there) is no
// plugin; ALSA's account of why is not ours to print.
bool AlsaPcmIsSoundServerPlugin(const std::string& pcmName)
{
    CatchAlsaErrors();
    if (snd_config_update() < 0 || !snd_config)
        return false;
    snd_config_t* definition = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", pcmName.c_str(), &definition) < 0)
        return false;
    const bool routes = RoutesToServer(definition, 0);
    snd_config_delete(definition);
    return routes;
}

}  // namespace velnar
