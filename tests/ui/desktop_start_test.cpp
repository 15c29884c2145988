// A phone started from the desktop menu: its settings folder, and the echo
// server it starts (the real velnar-echo on loopback, on ephemeral ports)
// with the settings file that calls it.
#include "ui/desktop_start.h"
#include "settings/settings_folder.h"
#include "tests/support/iax_test_peer.h"
#include "ui/echo_service.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using namespace velnar;

int ModeOf(const QString& path)
{
    struct stat status {};
    return ::stat(path.toLocal8Bit().constData(), &status) == 0 ? int(status.st_mode & 0777) : -1;
}

std::string FileText(const QString& path)
{
    std::ifstream file(path.toStdString());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Whether an IAX server answers a NEW on 127.0.0.1:port.
bool Answers(int port)
{
    iaxpeer::IaxTestPeer caller;
    caller.SetAutoAck(true);
    caller.SetTarget(static_cast<uint16_t>(port));
    caller.StartCall();
    caller.SendIax(iaxpeer::kNew, "exten=100;formats=2;version=1;");
    return caller.ExpectIax(iaxpeer::kAccept).has_value();
}

class DesktopStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_previousDir = QDir::currentPath();
        m_options.echoProgram = VELNAR_ECHO;
        // Held by the test, so the first start must fall back to a free port.
        m_options.firstEchoPort = m_taken.Port();
        ::setenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toLocal8Bit().constData(), 1);
    }
    void TearDown() override
    {
        QDir::setCurrent(m_previousDir);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    QString Folder() const { return m_home.path() + "/config/velnar"; }

    QTemporaryDir m_home;
    QString m_previousDir;
    iaxpeer::IaxTestPeer m_taken;
    DesktopStartOptions m_options;
};

TEST_F(DesktopStartTest, FirstStartWritesSettingsThatCallTheEchoServer)
{
    int port = 0;
    {
        std::unique_ptr<EchoService> echo = PrepareDesktopStart("", m_options);
        ASSERT_TRUE(echo);
        port = echo->Port();
        EXPECT_NE(port, int(m_taken.Port()));
        EXPECT_EQ(QDir::currentPath(), Folder());
        EXPECT_EQ(ModeOf(Folder()), 0700);
        EXPECT_EQ(ModeOf(Folder() + "/VOIP.set"), 0600);
        EXPECT_EQ(FileText(Folder() + "/VOIP.set"),
                  ":@127.0.0.1:" + std::to_string(port) + "\n1000");
        EXPECT_TRUE(Answers(port));
    }
    EXPECT_FALSE(Answers(port)) << "the echo server outlived its owner";

    // The next start finds the file and starts the server again there.
    std::unique_ptr<EchoService> again = PrepareDesktopStart("", m_options);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Port(), port);
    EXPECT_TRUE(Answers(port));
}

TEST_F(DesktopStartTest, OtherServersAndExistingFoldersAreLeftAlone)
{
    QDir(m_home.path()).mkdir("mine");
    const QString mine = m_home.path() + "/mine";
    ::chmod(mine.toLocal8Bit().constData(), 0755);
    std::ofstream(mine.toStdString() + "/VOIP.set") << "bob:pw@pbx.example.org\n200";
    EXPECT_FALSE(PrepareDesktopStart(mine.toStdString(), m_options));
    EXPECT_EQ(QDir::currentPath(), mine);
    EXPECT_EQ(ModeOf(mine), 0755);
    EXPECT_EQ(FileText(mine + "/VOIP.set"), "bob:pw@pbx.example.org\n200");
}

TEST(DesktopStartUnits, LocalEchoPortOnlyForTheWrittenForm)
{
    EXPECT_EQ(LocalEchoPort({"", "", "127.0.0.1:5037"}), 5037);
    EXPECT_EQ(LocalEchoPort({"", "", "127.0.0.1:40000"}), 40000);
    for (const StoredSettings& other :
         std::initializer_list<StoredSettings>{{"", "", "127.0.0.1:5036"},
                                               {"", "", "127.0.0.1"},
                                               {"", "", "127.0.0.1:"},
                                               {"", "", "127.0.0.1:70000"},
                                               {"", "", "127.0.0.1:50x"},
                                               {"", "", "10.0.0.1:5037"},
                                               {"bob", "", "127.0.0.1:5037"},
                                               {"", "pw", "127.0.0.1:5037"}})
        EXPECT_FALSE(LocalEchoPort(other))
            << other.user << ":" << other.password << "@" << other.server;
}

TEST(DesktopStartUnits, OptionsAndFolders)
{
    std::optional<std::string> folder;
    EXPECT_TRUE(ParseDesktopOption("--desktop", folder));
    EXPECT_EQ(folder, "");
    EXPECT_TRUE(ParseDesktopOption("--desktop=/tmp/x", folder));
    EXPECT_EQ(folder, "/tmp/x");
    for (const char* bad : {"--desktop=", "--desktops", "-desktop", "desktop"})
        EXPECT_FALSE(ParseDesktopOption(bad, folder)) << bad;

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(DesktopSettingsFolder(), "/home/someone/.config/velnar");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(DesktopSettingsFolder(), "/cfg/velnar");
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
