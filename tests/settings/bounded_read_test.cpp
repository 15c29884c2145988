// Files that are no settings file at all: FIFOs, devices, directories and
// files over the limit never stall the program or fill its memory.
#include "settings/bounded_read.h"
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

}  // namespace
}  // namespace velnar
