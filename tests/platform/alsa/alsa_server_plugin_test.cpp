// Telling the sound server's own ALSA plugin from other devices by ALSA's
// configuration alone, through the devices that only pass sound on.
#include "platform/alsa/alsa_server_plugin.h"
#include "tests/platform/alsa/alsa_server_config.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

TEST(AlsaServerPlugin, FollowsSlavesToTheServerPluginAndNothingElse)
{
    test::AlsaConfigFile config(R"(
pcm.server { type pulse }
pcm.plugged { type plug slave.pcm "server" }
pcm.twice { type plug slave { pcm "plugged" } }
pcm.inline { type plug slave.pcm { type pulse } }
pcm.card { type hw card 0 }
pcm.silence { type null }
pcm.to_card { type plug slave.pcm "card" }
pcm.loop { type plug slave.pcm "loop" }
)");
    struct Row {
        const char* pcm;
        bool plugin;
    } rows[] = {
        {"server", true},   {"plugged", true}, {"twice", true},
        {"inline", true},   {"card", false},   {"silence", false},
        {"to_card", false}, {"loop", false},   {"no_such_pcm", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(AlsaPcmIsSoundServerPlugin(row.pcm), row.plugin) << row.pcm;
}

}  // namespace
}  // namespace velnar
