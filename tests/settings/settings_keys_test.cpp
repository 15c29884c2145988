// The settings file's key lines: read, written, and read back through the
// whole file, next to the one-word and two-line files of earlier programs.
#include "settings/settings_keys.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velnar {
namespace {

namespace fs = std::filesystem;

TEST(SettingsKeys, ReadsKeyLinesSkipsTheRestAndWritesThemBack)
{
    std::istringstream lines(
        "microphone=alsa_input.usb-Mic=1\r\n"
        "garbage line\n"
        "=no key\n"
        " speaker =Built-in Audio \n"
        "protocol=2\n"
        "microphone=again\n");
    SettingsKeys keys;
    keys.Read(lines);
    EXPECT_EQ(keys.Get(kMicrophoneKey), "again");
    EXPECT_EQ(keys.Get(kSpeakerKey), "Built-in Audio ");
    EXPECT_EQ(keys.Get("missing"), "");
    keys.Set(kSpeakerKey, "");
    keys.Set("codec", "gsm\nspeaker=injected");
    EXPECT_EQ(keys.Lines(), "microphone=again\nprotocol=2\ncodec=gsmspeaker=injected\n");
}

class SettingsFileKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velnar-keys-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = (m_dir / "VOIP.set").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& bytes) { std::ofstream(m_path, std::ios::binary) << bytes; }
    std::string Read() const
    {
        std::ifstream in(m_path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path m_dir;
    std::string m_path;
};

TEST_F(SettingsFileKeys, EarlierFilesLoadAsDefaultDevicesAndKeysRoundTrip)
{
    for (const char* earlier : {"bob:pw@host", "bob:pw@host\n700", "bob:pw@host\n700\n"}) {
        Write(earlier);
        StoredSettings loaded;
        ASSERT_TRUE(LoadSettingsFile(m_path, loaded));
        EXPECT_EQ(loaded.keys.Get(kMicrophoneKey), "") << earlier;
        EXPECT_TRUE(loaded.keys.Empty()) << earlier;
    }
    StoredSettings values{"bob", "pw", "host", 700, {}};
    ASSERT_TRUE(SaveSettingsFile(m_path, values));
    EXPECT_EQ(Read(), "bob:pw@host\n700");  // as earlier programs wrote it
    values.keys.Set(kMicrophoneKey, "mic one");
    values.keys.Set("register", "yes");
    ASSERT_TRUE(SaveSettingsFile(m_path, values));
    EXPECT_EQ(Read(), "bob:pw@host\n700\nmicrophone=mic one\nregister=yes\n");
    StoredSettings loaded;
    ASSERT_TRUE(LoadSettingsFile(m_path, loaded));
    EXPECT_EQ(loaded.noisePosition, 700);
    EXPECT_EQ(loaded.server, "host");
    EXPECT_EQ(loaded.keys.Get(kMicrophoneKey), "mic one");
    EXPECT_EQ(loaded.keys.Get("register"), "yes");
}

}  // namespace
}  // namespace velnar
