#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velnar {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velnar-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = (m_dir / "VOIP.set").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void WriteRaw(const std::string& bytes)
    {
        std::ofstream out(m_path, std::ios::binary);
        out << bytes;
    }
    std::string ReadRaw() const
    {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    unsigned Mode() const
    {
        struct stat info {};
        EXPECT_EQ(stat(m_path.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    fs::path m_dir;
    std::string m_path;
};

struct LoadCase {
    const char* name;
    std::string content;
    std::string user, password, server;
    int noisePosition;  // expected, starting from 1000
};

TEST_F(SettingsFileTest, LoadsEveryFileForm)
{
    const std::string longServer(5000, 's');
    const LoadCase cases[] = {
        {"full word", "alice:secret@pbx.example.net\n700", "alice", "secret", "pbx.example.net",
         700},
        {"crlf line break", "alice:secret@pbx.example.net\r\n300", "alice", "secret",
         "pbx.example.net", 300},
        {"colon without at-sign", "10.0.0.5:4569\n0", "10.0.0.5", "", "10.0.0.5:4569", 0},
        {"no colon, no at-sign", "pbx.example.net\n500", "", "", "pbx.example.net", 500},
        {"at-sign without colon", "secret@pbx\n1", "", "secret", "pbx", 1},
        {"empty user and password", ":@pbx.example.net\n1000", "", "", "pbx.example.net", 1000},
        // The host never holds an at-sign: what stands before it is the password.
        {"colon after at-sign", "a@b:c\n2", "", "a", "b:c", 2},
        {"missing number keeps caller's", "alice:pw@pbx\n", "alice", "pw", "pbx", 1000},
        {"missing line break and number", "alice:pw@pbx", "alice", "pw", "pbx", 1000},
        {"non-numeric second word", "alice:pw@pbx\nloud", "alice", "pw", "pbx", 1000},
        {"number with trailing text", "alice:pw@pbx\n650dB", "alice", "pw", "pbx", 650},
        {"out-of-range number kept", "alice:pw@pbx\n1500", "alice", "pw", "pbx", 1500},
        {"number too large for an int", "alice:pw@pbx\n99999999999", "alice", "pw", "pbx", 1000},
        {"leading white space", "  \r\n\talice:pw@pbx  \r\n  42", "alice", "pw", "pbx", 42},
        {"space inside the server", "alice:pw@my pbx\n700", "alice", "pw", "my", 1000},
        {"very long word", "u:p@" + longServer + "\n800", "u", "p", longServer, 800},
        {"empty file", "", "", "", "", 1000},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteRaw(c.content);
        StoredSettings loaded;
        loaded.user = loaded.password = loaded.server = "stale";
        EXPECT_TRUE(LoadSettingsFile(m_path, loaded));
        EXPECT_EQ(loaded.user, c.user);
        EXPECT_EQ(loaded.password, c.password);
        EXPECT_EQ(loaded.server, c.server);
        EXPECT_EQ(loaded.noisePosition, c.noisePosition);
    }
}

TEST_F(SettingsFileTest, MissingFileChangesNothing)
{
    StoredSettings loaded{"u", "p", "s", 123};
    EXPECT_FALSE(LoadSettingsFile(m_path, loaded));
    // A directory in the file's place is no file either.
    fs::create_directory(m_path);
    EXPECT_FALSE(LoadSettingsFile(m_path, loaded));
    EXPECT_EQ(loaded.user, "u");
    EXPECT_EQ(loaded.password, "p");
    EXPECT_EQ(loaded.server, "s");
    EXPECT_EQ(loaded.noisePosition, 123);
}

TEST_F(SettingsFileTest, WritesTheHistoricalFormWithUnixLineBreak)
{
    ASSERT_TRUE(SaveSettingsFile(m_path, {"alice", "secret", "pbx.example.net", 700}));
    EXPECT_EQ(ReadRaw(), "alice:secret@pbx.example.net\n700");

    ASSERT_TRUE(SaveSettingsFile(m_path, {"", "", "", 1000}));
    EXPECT_EQ(ReadRaw(), ":@\n1000");
}

TEST_F(SettingsFileTest, WrittenFileReadsBack)
{
    const StoredSettings saved{"bob", "pa55", "192.168.1.10:4569", 0};
    ASSERT_TRUE(SaveSettingsFile(m_path, saved));
    StoredSettings loaded;
    ASSERT_TRUE(LoadSettingsFile(m_path, loaded));
    EXPECT_EQ(loaded.user, saved.user);
    EXPECT_EQ(loaded.password, saved.password);
    EXPECT_EQ(loaded.server, saved.server);
    EXPECT_EQ(loaded.noisePosition, saved.noisePosition);
}

TEST_F(SettingsFileTest, FileIsReadableByItsOwnerOnly)
{
    ASSERT_TRUE(SaveSettingsFile(m_path, {"alice", "secret", "pbx", 500}));
    EXPECT_EQ(Mode(), 0600u);

    // A file left world-readable by an older version is narrowed on rewrite.
    ASSERT_EQ(chmod(m_path.c_str(), 0644), 0);
    ASSERT_TRUE(SaveSettingsFile(m_path, {"alice", "secret2", "pbx", 500}));
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_EQ(ReadRaw(), "alice:secret2@pbx\n500");
}

TEST_F(SettingsFileTest, RewriteReplacesLongerContent)
{
    WriteRaw(std::string(300, 'x') + "\n999");
    ASSERT_TRUE(SaveSettingsFile(m_path, {"", "", "pbx", 1}));
    EXPECT_EQ(ReadRaw(), ":@pbx\n1");
}

TEST_F(SettingsFileTest, UnwritableFileReportsFailure)
{
    // The tests run as root, where permissions do not stop a write: a path
    // that is a directory, or a file in /proc, does.
    fs::create_directory(m_path);
    EXPECT_FALSE(SaveSettingsFile(m_path, {"u", "p", "s", 1}));
    EXPECT_FALSE(SaveSettingsFile("/proc/velnar-no-such-file/VOIP.set", {"u", "p", "s", 1}));
}

TEST(NoiseThresholdTest, FollowsTheSliderCurve)
{
    const struct {
        int position;
        int threshold;
    } cases[] = {{0, 32767}, {300, 1448}, {500, 181}, {700, 22},
                 {900, 2},   {1000, 1},   {1500, 0},  {-1000, 1073676289}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        // 32767 squared is 1073676289; the double may land a hair below.
        EXPECT_NEAR(NoiseThreshold(c.position), c.threshold, c.position < 0 ? 1 : 0);
    }
}

TEST(NoiseThresholdTest, ExtremePositionsDoNotOverflow)
{
    EXPECT_EQ(NoiseThreshold(-100000), INT_MAX);
    EXPECT_EQ(NoiseThreshold(INT_MIN), INT_MAX);
    EXPECT_EQ(NoiseThreshold(INT_MAX), 0);
}

TEST(SettingsFileSplitTest, AddressWordsSplitAtLastAtAndFirstColon)
{
    struct Case {
        const char* word;
        const char* user;
        const char* password;
        const char* server;
    } cases[] = {
        // Today's forms.
        {"alice:secret@pbx.example.net", "alice", "secret", "pbx.example.net"},
        {":@pbx", "", "", "pbx"},
        {"pbx.example.net", "", "", "pbx.example.net"},
        {"10.0.0.5:4569", "10.0.0.5", "", "10.0.0.5:4569"},
        {"secret@pbx", "", "secret", "pbx"},
        {"alice:pw@pbx:4569", "alice", "pw", "pbx:4569"},
        // Passwords holding the separators.
        {"alice:p@ss@host", "alice", "p@ss", "host"},
        {"alice:pa/ss@host", "alice", "pa/ss", "host"},
        {"alice:pa:ss@host", "alice", "pa:ss", "host"},
        {"alice:100%@host:5037", "alice", "100%", "host:5037"},
        {"alice:@@@host", "alice", "@@", "host"},
        {"alice:a;b=c@host", "alice", "a;b=c", "host"},
        {"alice:pw@", "alice", "pw", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        StoredSettings split;
        SplitAddressWord(c.word, split);
        EXPECT_EQ(split.user, c.user);
        EXPECT_EQ(split.password, c.password);
        EXPECT_EQ(split.server, c.server);
    }
}

TEST_F(SettingsFileTest, SavingIntoNoRegularFileFailsWithItsReason)
{
    ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0);  // no reader: must not wait for one
    std::string why;
    EXPECT_FALSE(SaveSettingsFile(m_path, {"u", "p", "s", 1}, &why));
    EXPECT_FALSE(why.empty());
    fs::remove(m_path);
    fs::create_directory(m_path);
    EXPECT_FALSE(SaveSettingsFile(m_path, {"u", "p", "s", 1}, &why));
    EXPECT_EQ(why, "Is a directory");
}

}  // namespace
}  // namespace velnar
