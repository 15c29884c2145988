// A phone started from the desktop menu: its settings folder, and the real
// echo server it starts on loopback with the settings file that calls it.
#include "ui/desktop_start.h"
#include "tests/support/iax_test_peer.h"
#include "ui/echo_service.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

using namespace velnar;

int ModeOf(const QString& path)
{
    return int(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ReadOther));
}

QByteArray FileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Whether an IAX server on 127.0.0.1:port answers a NEW.
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
        m_options.echoProgram = VELNAR_ECHO;
        // Held here, so that a first start must fall back to a free port.
        m_options.firstEchoPort = m_taken.Port();
        ::setenv("XDG_CONFIG_HOME", qPrintable(m_home.path()), 1);
    }
    void TearDown() override { QDir::setCurrent(QDir::tempPath()); }

    QTemporaryDir m_home;
    iaxpeer::IaxTestPeer m_taken;
    DesktopStartOptions m_options;
};

TEST_F(DesktopStartTest, FirstStartWritesSettingsThatCallTheEchoServer)
{
    const QString folder = m_home.path() + "/velnar";
    int port = 0;
    {
        std::unique_ptr<EchoService> echo = PrepareDesktopStart("", m_options);
        ASSERT_TRUE(echo);
        port = echo->Port();
        EXPECT_NE(port, int(m_taken.Port()));
        EXPECT_EQ(QDir::currentPath(), folder);
        EXPECT_EQ(ModeOf(folder), int(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        EXPECT_EQ(ModeOf(folder + "/VOIP.set"), int(QFile::ReadOwner | QFile::WriteOwner));
        EXPECT_EQ(FileText(folder + "/VOIP.set"),
                  ":@127.0.0.1:" + QByteArray::number(port) + "\n1000");
        EXPECT_TRUE(Answers(port));
    }
    EXPECT_FALSE(Answers(port)) << "the echo server outlived its owner";

    std::unique_ptr<EchoService> again = PrepareDesktopStart("", m_options);
    ASSERT_TRUE(again) << "the settings name the echo server: it starts again";
    EXPECT_EQ(again->Port(), port);
    EXPECT_TRUE(Answers(port));
}

TEST_F(DesktopStartTest, OtherServersAndExistingFoldersAreLeftAlone)
{
    QFile file(m_home.filePath("VOIP.set"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("bob:pw@pbx.example.org\n200") > 0);
    file.close();
    ASSERT_TRUE(QFile::setPermissions(
        m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther));
    EXPECT_FALSE(PrepareDesktopStart(m_home.path().toStdString(), m_options));
    EXPECT_EQ(QDir::currentPath(), m_home.path());
    EXPECT_TRUE(QFile::permissions(m_home.path()) & QFile::ReadOther) << "its mode was changed";
    EXPECT_EQ(FileText(m_home.filePath("VOIP.set")), "bob:pw@pbx.example.org\n200");
}

TEST(DesktopStartUnits, LocalEchoPortOnlyForTheWrittenForm)
{
    EXPECT_EQ(LocalEchoPort({"", "", "127.0.0.1:5037"}), 5037);
    for (const char* server : {"127.0.0.1:5036", "127.0.0.1", "127.0.0.1:", "127.0.0.1:70000",
                               "127.0.0.1:50x", "10.0.0.1:5037"})
        EXPECT_FALSE(LocalEchoPort({"", "", server})) << server;
    EXPECT_FALSE(LocalEchoPort({"bob", "", "127.0.0.1:5037"}));
    EXPECT_FALSE(LocalEchoPort({"", "pw", "127.0.0.1:5037"}));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
