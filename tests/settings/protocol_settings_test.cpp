// The protocol lines of the settings file: absent or garbled lines mean
// version 1 as before, and what is stored reads back the same.
#include "settings/protocol_settings.h"
#include "settings/call_target.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velnar {
namespace {

SettingsKeys KeysOf(const std::string& lines)
{
    std::istringstream stream(lines);
    SettingsKeys keys;
    keys.Read(stream);
    return keys;
}

TEST(ProtocolSettings, FilesWithoutTheLinesOrWithGarbageAreVersionOne)
{
    for (const char* lines : {"", "protocol=3\nregister=yes\n", "protocol= 2\n"}) {
        const ProtocolSettings read = ReadProtocolSettings(KeysOf(lines));
        EXPECT_EQ(read.version, 1) << lines;
        EXPECT_FALSE(read.registerForCalls) << lines;
        EXPECT_EQ(CodecList(read.codecs), "ulaw,alaw,gsm") << lines;
    }
}

TEST(ProtocolSettings, CodecOrderKeepsKnownNamesOnceAndAppendsTheMissing)
{
    EXPECT_EQ(CodecList(ReadProtocolSettings(KeysOf("codecs=gsm,alaw\n")).codecs), "gsm,alaw,ulaw");
    EXPECT_EQ(CodecList(ReadProtocolSettings(KeysOf("codecs=alaw,speex,alaw,\n")).codecs),
              "alaw,ulaw,gsm");
}

TEST(ProtocolSettings, StoredChoiceReadsBackAndTheDefaultWritesNothing)
{
    SettingsKeys keys = KeysOf("microphone=usb\n");
    StoreProtocolSettings({2, true, {Codec::Gsm, Codec::Ulaw, Codec::Alaw}}, keys);
    const ProtocolSettings read = ReadProtocolSettings(keys);
    EXPECT_EQ(read.version, 2);
    EXPECT_TRUE(read.registerForCalls);
    EXPECT_EQ(CodecList(read.codecs), "gsm,ulaw,alaw");
    StoreProtocolSettings(ProtocolSettings{}, keys);
    EXPECT_EQ(keys.Lines(), "microphone=usb\n");
}

TEST(ProtocolSettings, VersionTwoServerWithoutPortCalls4569)
{
    StoredSettings stored{"alice", "pw", "pbx.example", 1000, KeysOf("protocol=2\n")};
    EXPECT_EQ(MakeCallTarget(stored, "100").port, 4569);
    stored.server = "pbx.example:5036";
    EXPECT_EQ(MakeCallTarget(stored, "100").port, 5036);
    stored.keys = SettingsKeys{};
    stored.server = "pbx.example";
    EXPECT_EQ(MakeCallTarget(stored, "100").port, 5036);
}

}  // namespace
}  // namespace velnar
