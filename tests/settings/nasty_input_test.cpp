// One row per nasty input: address words, server ports, numbers, and files
// that are no settings file at all. Today's files must load as they did.
#include "settings/bounded_read.h"
#include "settings/call_target.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace velnar {
namespace {

namespace fs = std::filesystem;

TEST(NastyInputTest, AddressWordsSplitAtLastAtAndFirstColon)
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

TEST(NastyInputTest, OnlyPortsOneTo65535AreCalled)
{
    struct Case {
        const char* server;
        const char* host;
        int port;
    } cases[] = {
        {"pbx", "pbx", 5036},        {"pbx:4569", "pbx", 4569}, {"pbx:1", "pbx", 1},
        {"pbx:65535", "pbx", 65535}, {"pbx:65536", "pbx", 0},   {"pbx:70000", "pbx", 0},
        {"pbx:0", "pbx", 0},         {"pbx:", "pbx", 0},        {"pbx:abc", "pbx", 0},
        {"pbx:4569x", "pbx", 0},     {"pbx:-1", "pbx", 0},      {"pbx:99999999999", "pbx", 0},
        {"pbx:+80", "pbx", 0},       {":4569", "", 4569},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        const CallTarget target = MakeCallTarget({"u", "p", c.server, 1000}, "600@office");
        EXPECT_EQ(target.host, c.host);
        EXPECT_EQ(target.port, c.port);
        EXPECT_EQ(target.number, "600");
        EXPECT_EQ(target.context, "office");
    }
}

TEST(NastyInputTest, NumbersAndSecretsTheRequestCannotCarry)
{
    for (const char* number : {"600", "*97#", "600/1", "+44 20", ""})
        EXPECT_TRUE(IsDialableNumber(number)) << number;
    for (const char* number : {"600;username=mallory", "a=b", "600\r", "6\x7f"})
        EXPECT_FALSE(IsDialableNumber(number)) << number;
    EXPECT_FALSE(
        IsDialableNumber(std::string("6\0"
                                     "0",
                                     3)));
    EXPECT_TRUE(FitsSecretLength(std::string(79, 'x')));
    EXPECT_FALSE(FitsSecretLength(std::string(80, 'x')));
}

class BoundedFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velnar-bounded-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = (m_dir / "VOIP.set").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
    std::string m_path;
};

TEST_F(BoundedFileTest, FilesThatAreNoSettingsFileLeaveTheDefaults)
{
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        ReadOutcome outcome;
        const char* why;
    } cases[] = {
        {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
         ReadOutcome::Refused, "not a regular file"},
        {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
         ReadOutcome::Refused, "not a regular file"},
        {"directory", [](const std::string& p) { fs::create_directory(p); }, ReadOutcome::Refused,
         "not a regular file"},
        {"one byte too large",
         [](const std::string& p) { std::ofstream(p) << std::string(kMaxReadBytes + 1, 'x'); },
         ReadOutcome::Refused, "too large"},
        {"missing", [](const std::string&) {}, ReadOutcome::NotOpened, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_path);
        c.make(m_path);
        StoredSettings loaded{"u", "p", "s", 123};
        EXPECT_EQ(ReadSettingsFile(m_path, loaded), c.outcome);
        EXPECT_EQ(loaded.user, "u");
        EXPECT_EQ(loaded.server, "s");
        EXPECT_EQ(loaded.noisePosition, 123);
        std::string text;
        std::string why;
        EXPECT_EQ(ReadBoundedFile(m_path, text, why), c.outcome);
        if (c.why) {
            EXPECT_EQ(why, c.why);
        }
    }
}

TEST_F(BoundedFileTest, FileOfExactlyTheLimitLoads)
{
    const std::string word = "alice:p@ss@pbx\n700";
    std::ofstream(m_path) << word << std::string(kMaxReadBytes - word.size(), ' ');
    StoredSettings loaded;
    ASSERT_TRUE(LoadSettingsFile(m_path, loaded));
    EXPECT_EQ(loaded.password, "p@ss");
    EXPECT_EQ(loaded.noisePosition, 700);
}

TEST_F(BoundedFileTest, SavingIntoNoRegularFileFailsWithItsReason)
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

TEST_F(BoundedFileTest, PasswordsWithSeparatorsSurviveSaveAndLoad)
{
    for (const char* password : {"p@ss@", "pa:ss", "pa/ss", "%41", "a;b=c", "@", ":"}) {
        SCOPED_TRACE(password);
        ASSERT_TRUE(SaveSettingsFile(m_path, {"alice", password, "pbx:4569", 300}));
        StoredSettings loaded;
        ASSERT_TRUE(LoadSettingsFile(m_path, loaded));
        EXPECT_EQ(loaded.user, "alice");
        EXPECT_EQ(loaded.password, password);
        EXPECT_EQ(loaded.server, "pbx:4569");
        EXPECT_EQ(loaded.noisePosition, 300);
    }
}

}  // namespace
}  // namespace velnar
