// The console phone as a user runs it: the program in its own process,
// commands on its standard input, status lines read from its standard
// output, against the scripted server over loopback UDP. Every run binds an
// ephemeral local port (--local-port=0) and plays on the silent devices, so
// tests run side by side on machines without sound.
#include "tests/support/echo_peer_process.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWaitMs = 5000;

std::string ServerAddress(uint16_t port)
{
    return "127.0.0.1:" + std::to_string(port);
}

class ConsoleRun {
public:
    // quickGiveUp: the test build that retransmits an unanswered frame once.
    explicit ConsoleRun(const std::vector<std::string>& arguments,
                        const QString& directory = QDir::tempPath(), bool quickGiveUp = false)
    {
        m_process.setWorkingDirectory(directory);
        QStringList list = {"--audio", "none", "--local-port=0"};
        for (const std::string& argument : arguments)
            list << QString::fromStdString(argument);
        m_process.start(quickGiveUp ? VELNAR_CONSOLE_QUICK_GIVE_UP : VELNAR_CONSOLE, list);
        EXPECT_TRUE(m_process.waitForStarted(kWaitMs));
    }
    ~ConsoleRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kWaitMs);
        }
    }

    void Send(const std::string& command)
    {
        m_process.write((command + "\n").c_str());
        m_process.waitForBytesWritten(kWaitMs);
    }
    void CloseInput() { m_process.closeWriteChannel(); }
    void Signal(int signalNumber)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
    }

    // Waits until the status line has been printed (at or after index from).
    bool WaitForLine(const std::string& line, size_t from = 0)
    {
        for (;;) {
            // Lines may have come in while another wait ran the event loop.
            ReadLines();
            for (size_t i = from; i < m_lines.size(); ++i)
                if (m_lines[i] == line)
                    return true;
            if (!m_process.waitForReadyRead(kWaitMs) && !m_process.canReadLine())
                return false;
            ReadLines();
        }
    }
    // The exit status, or -1 when the program did not end by itself in time.
    int ExitCode()
    {
        if (!m_process.waitForFinished(kWaitMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        ReadLines();
        return m_process.exitCode();
    }
    const std::vector<std::string>& Lines() const { return m_lines; }
    // Everything the program wrote to standard error so far.
    std::string Errors()
    {
        m_errors += m_process.readAllStandardError().toStdString();
        return m_errors;
    }
    bool WaitForError(const std::string& text)
    {
        QElapsedTimer timer;
        timer.start();
        while (Errors().find(text) == std::string::npos) {
            if (timer.hasExpired(kWaitMs))
                return false;
            m_process.waitForReadyRead(20);
        }
        return true;
    }

private:
    void ReadLines()
    {
        while (m_process.canReadLine()) {
            std::string line = m_process.readLine().toStdString();
            line.pop_back();
            m_lines.push_back(line);
        }
    }

    QProcess m_process;
    std::vector<std::string> m_lines;
    std::string m_errors;
};

using Lines = std::vector<std::string>;

TEST(ConsolePhoneTest, FullCallByCommands)
{
    QTemporaryDir directory;
    // The settings file gives the server and user; --user overrides the
    // user, the password comes from its own file.
    iaxpeer::ScriptedServer server;
    std::ofstream(directory.filePath("VOIP.set").toStdString())
        << "alice:filepw@" << ServerAddress(server.Port()) << "\n1000";
    std::ofstream(directory.filePath("pw").toStdString()) << "s3cret\n";
    ConsoleRun phone({"--user", "bob", "--password-file", directory.filePath("pw").toStdString()},
                     directory.path());
    phone.Send("status");
    phone.Send("key 1");
    phone.Send("call 100");
    ASSERT_TRUE(phone.WaitForLine("Connected")) << phone.Errors();
    EXPECT_NE(server.LastNewText().find("username=bob;"), std::string::npos)
        << server.LastNewText();
    EXPECT_NE(server.LastNewText().find("exten=100;"), std::string::npos) << server.LastNewText();
    // The silent devices open like real ones: GSM is advertised.
    EXPECT_NE(server.LastNewText().find("formats=2;"), std::string::npos) << server.LastNewText();
    // The server's ANSWER may reach the phone a little after its ACCEPT.
    ASSERT_TRUE(phone.WaitForError("Answering call!")) << "diagnostics go to stderr";

    phone.Send("key 12#*");
    ASSERT_TRUE(
        iaxpeer::ScriptedServer::WaitFor([&] { return server.Digits() == "12#*"; }, kWaitMs))
        << server.Digits();
    phone.Send("frobnicate");
    phone.Send("key 12x");
    phone.Send("status");
    phone.Send("hangup");
    ASSERT_TRUE(phone.WaitForLine("Ready")) << phone.Errors();
    EXPECT_TRUE(
        iaxpeer::ScriptedServer::WaitFor([&] { return server.HangupsReceived() == 1; }, kWaitMs));
    phone.Send("quit");
    phone.Send("call 100");  // after quit: never run
    EXPECT_EQ(phone.ExitCode(), 0);
    EXPECT_EQ(phone.Lines(),
              (Lines{"Ready", "Calling...", "Connected", "Connected", "Hanging up...", "Ready"}));
    EXPECT_EQ(server.CallsOffered(), 1);
    EXPECT_EQ(server.Digits(), "12#*") << "a refused key line sends nothing";
    const std::string errors = phone.Errors();
    EXPECT_NE(errors.find("key: not in a call"), std::string::npos) << errors;
    EXPECT_NE(errors.find("unknown command 'frobnicate'"), std::string::npos) << errors;
}

TEST(ConsolePhoneTest, EndOfInputHangsUpFirst)
{
    iaxpeer::ScriptedServer server;
    // A settings file that cannot be read is left aside, with a note.
    QTemporaryDir directory;
    QDir(directory.path()).mkdir("VOIP.set");
    ConsoleRun phone({"--server", ServerAddress(server.Port())}, directory.path());
    phone.Send("call " + std::string(40, '7'));  // no 32-character limit
    ASSERT_TRUE(phone.WaitForLine("Connected")) << phone.Errors();
    phone.CloseInput();
    EXPECT_EQ(phone.ExitCode(), 0);
    EXPECT_EQ(phone.Lines(), (Lines{"Calling...", "Connected", "Hanging up...", "Ready"}));
    EXPECT_TRUE(
        iaxpeer::ScriptedServer::WaitFor([&] { return server.HangupsReceived() == 1; }, kWaitMs));
    EXPECT_NE(server.LastNewText().find("exten=" + std::string(40, '7') + ";"), std::string::npos);
    EXPECT_NE(phone.Errors().find("cannot read VOIP.set"), std::string::npos);
}

struct OneShotCase {
    const char* name;
    iaxpeer::ScriptedServerOptions server;
    bool silentServer;  // a bound socket that never answers
    std::vector<std::string> arguments;
    int exitCode;
    Lines lines;
};

TEST(ConsolePhoneTest, OneShotExitStatus)
{
    iaxpeer::ScriptedServerOptions rejecting;
    rejecting.rejectReason = "No such user";
    iaxpeer::ScriptedServerOptions neverAccepting;
    neverAccepting.accept = neverAccepting.ring = neverAccepting.answer = false;
    const OneShotCase cases[] = {
        {"connected",
         {},
         false,
         {"--seconds", "0"},
         0,
         {"Calling...", "Connected", "Hanging up...", "Ready"}},
        {"rejected",
         rejecting,
         false,
         {},
         1,
         {"Calling...", "Authentication was rejected", "Hanging up...", "Ready"}},
        {"silent server",
         {},
         true,
         {},
         1,
         {"Calling...", "Time out- server dead?", "Hanging up...", "Ready"}},
        {"no Connected before --timeout",
         neverAccepting,
         false,
         {"--timeout", "1"},
         1,
         {"Calling...", "Hanging up...", "Ready"}},
    };
    for (const OneShotCase& c : cases) {
        SCOPED_TRACE(c.name);
        iaxpeer::ScriptedServer server(c.server);
        iaxpeer::IaxTestPeer silent;
        const uint16_t port = c.silentServer ? silent.Port() : server.Port();
        std::vector<std::string> arguments = {"--server", ServerAddress(port), "--call", "100"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ConsoleRun phone(arguments, QDir::tempPath(), true);
        EXPECT_EQ(phone.ExitCode(), c.exitCode) << phone.Errors();
        EXPECT_EQ(phone.Lines(), c.lines);
    }
}

TEST(ConsolePhoneTest, UsageErrorsExitWithTwo)
{
    for (const char* bad :
         {"--seconds=-1", "--timeout=3000000", "--timeout", "--password=x", "--audio=oss", "--frob",
          "stray", "--help=x", "--local-port=65536", "--local-port=-1", "--local-port=5o36",
          "--protocol=3", "--protocol=", "--protocol=v2", "--register=yes"}) {
        ConsoleRun phone({bad});
        EXPECT_EQ(phone.ExitCode(), 2) << bad;
        EXPECT_TRUE(phone.Lines().empty());
        EXPECT_NE(phone.Errors().find("Try 'velnar-console --help'"), std::string::npos) << bad;
    }
}

// --register needs version 2, from the command line or from the file; the
// command line's protocol wins over the file's.
TEST(ConsolePhoneTest, RegisterNeedsVersion2)
{
    struct Case {
        const char* name;
        const char* file;  // VOIP.set, nullptr for none
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {"version 1 by default", nullptr, {"--register"}, 2},
        {"file's version 2 overridden",
         "a@127.0.0.1:9\n1000\nprotocol=2\n",
         {"--protocol=1", "--register"},
         2},
        {"version 2 in the file", "a@127.0.0.1:9\n1000\nprotocol=2\n", {"--register"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir directory;
        if (c.file)
            std::ofstream(directory.filePath("VOIP.set").toStdString()) << c.file;
        ConsoleRun phone(c.arguments, directory.path());
        phone.CloseInput();
        EXPECT_EQ(phone.ExitCode(), c.exitCode) << phone.Errors();
        EXPECT_EQ(phone.Errors().find("--register needs version 2") != std::string::npos,
                  c.exitCode == 2)
            << phone.Errors();
    }
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;  // %d is the server's address, %p the password file
    std::string password;                // written to the password file
    int exitCode;
    Lines lines;
    std::string error;
};

// Nothing a person types, or a file holds, reaches the server unchecked, and
// no FIFO stalls the program.
TEST(ConsolePhoneTest, NastyInputIsRefused)
{
    const Lines failed = {"Calling...", "Cannot connect- bad server name? ", "Hanging up...",
                          "Ready"};
    const RefusalCase cases[] = {
        {"number adding keys",
         {"--call", "600;username=mallory;formats=0"},
         "",
         1,
         {},
         "velnar-console: invalid number\n"},
        {"number with a control character",
         {"--call", "600\t1"},
         "",
         1,
         {},
         "velnar-console: invalid number\n"},
        {"password of 80 characters",
         {"--call", "600", "--password-file", "%p"},
         std::string(80, 'p'),
         1,
         {},
         "velnar-console: the password is longer than 79 characters\n"},
        {"port 70000", {"--server", "127.0.0.1:70000", "--call", "600"}, "", 1, failed, ""},
        {"port 0", {"--server", "127.0.0.1:0", "--call", "600"}, "", 1, failed, ""},
        {"port in letters", {"--server", "127.0.0.1:pbx", "--call", "600"}, "", 1, failed, ""},
        {"password file is a directory", {"--password-file", "."}, "", 2, {}, "not a regular file"},
        {"password file is a FIFO", {"--password-file", "fifo"}, "", 2, {}, "not a regular file"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir directory;
        ASSERT_EQ(mkfifo(directory.filePath("fifo").toLocal8Bit().constData(), 0600), 0);
        const std::string passwordFile = directory.filePath("pw").toStdString();
        std::ofstream(passwordFile) << c.password << "\n";
        iaxpeer::ScriptedServer server;
        std::vector<std::string> arguments = {"--server", ServerAddress(server.Port())};
        for (const std::string& argument : c.arguments)
            arguments.push_back(argument == "%p" ? passwordFile : argument);
        ConsoleRun phone(arguments, directory.path(), 1);
        EXPECT_EQ(phone.ExitCode(), c.exitCode) << phone.Errors();
        EXPECT_EQ(phone.Lines(), c.lines);
        EXPECT_NE(phone.Errors().find(c.error), std::string::npos) << phone.Errors();
        EXPECT_EQ(server.CallsOffered(), 0);
    }
}

TEST(ConsolePhoneTest, InterruptHangsUpBeforeExit)
{
    for (int signalNumber : {SIGINT, SIGTERM}) {
        iaxpeer::ScriptedServer server;
        ConsoleRun phone(
            {"--server", ServerAddress(server.Port()), "--call", "100", "--seconds", "60"});
        ASSERT_TRUE(phone.WaitForLine("Connected")) << phone.Errors();
        phone.Signal(signalNumber);
        EXPECT_EQ(phone.ExitCode(), 0) << "the call had reached Connected";
        EXPECT_EQ(phone.Lines(), (Lines{"Calling...", "Connected", "Hanging up...", "Ready"}));
        EXPECT_TRUE(iaxpeer::ScriptedServer::WaitFor([&] { return server.HangupsReceived() == 1; },
                                                     kWaitMs));
    }
}

// A far end that never acknowledges the HANGUP gets it again while the
// program waits; the program still ends, long before the retries run out.
TEST(ConsolePhoneTest, QuitAwaitsTheHangUpAcknowledgementBriefly)
{
    iaxpeer::IaxTestPeer peer;
    peer.SetAutoAck(true);
    ConsoleRun phone({"--server", ServerAddress(peer.Port())});
    phone.Send("call 100");
    ASSERT_TRUE(peer.ExpectIax(iaxpeer::kNew)) << peer.LastError();
    peer.SendIax(iaxpeer::kAccept, "formats=2;");
    ASSERT_TRUE(phone.WaitForLine("Connected")) << phone.Errors();
    peer.SetAutoAck(false);
    phone.Send("quit");
    EXPECT_EQ(phone.ExitCode(), 0);
    peer.Drain();
    int hangUps = 0;
    for (const iaxpeer::PeerFrame& frame : peer.Pending())
        hangUps += frame.Is(iaxpeer::kIax, iaxpeer::kHangup) ? 1 : 0;
    EXPECT_GE(hangUps, 2);
}

// Version 2 against the echo service, which demands a call token and an
// MD5 answer and calls whoever registers: the console registers, answers
// that call (or declines it and places one of its own), and at quit hangs
// up and releases the registration.
TEST(ConsolePhoneTest, Version2WithTheEchoService)
{
    for (bool take : {true, false}) {
        SCOPED_TRACE(take ? "taken" : "declined");
        velnar::test::EchoPeerProcess echo(false, {"--password=s3cret", "--ring-registered"});
        ASSERT_NE(echo.V2Port(), 0);
        QTemporaryDir directory;
        std::ofstream(directory.filePath("pw").toStdString()) << "s3cret\n";
        ConsoleRun phone(
            {"--protocol=2", "--register", "--server", ServerAddress(echo.V2Port()), "--user",
             "alice", "--password-file", directory.filePath("pw").toStdString()},
            directory.path());
        ASSERT_TRUE(phone.WaitForError("velnar-console: incoming call from "))
            << phone.Errors() << echo.Output();
        phone.Send("registration");
        ASSERT_TRUE(phone.WaitForLine("Registered"));
        phone.Send(take ? "answer" : "hangup");
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return echo.Said(take ? "answered by alice" : "declined by alice"); }, kWaitMs))
            << echo.Output();
        if (!take)
            phone.Send("call 100");
        ASSERT_TRUE(phone.WaitForLine("Connected")) << phone.Errors();
        const Lines& lines = phone.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Calling..."), take ? 0 : 1);
        phone.Send("quit");
        EXPECT_EQ(phone.ExitCode(), 0);
        EXPECT_EQ(phone.Lines().back(), "Ready");
        EXPECT_TRUE(QTest::qWaitFor([&] { return echo.Said("released alice"); }, kWaitMs))
            << echo.Output();
        EXPECT_TRUE(echo.Said(": HANGUP,")) << echo.Output();
        const std::string errors = phone.Errors();
        for (const char* said :
             {"velnar-console: registration: Registered\n",
              "velnar-console: registration: Not registered\n", "version 2 on local UDP port "})
            EXPECT_NE(errors.find(said), std::string::npos) << said << errors;
    }
}

TEST(ConsolePhoneTest, PortInUseEndsWithAClearMessage)
{
    iaxpeer::IaxTestPeer taken;  // holds a UDP port
    QProcess process;
    process.start(VELNAR_CONSOLE,
                  {"--audio", "none", "--local-port", QString::number(taken.Port())});
    ASSERT_TRUE(process.waitForFinished(kWaitMs));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    const std::string errors = process.readAllStandardError().toStdString();
    EXPECT_NE(errors.find("cannot use UDP port " + std::to_string(taken.Port()) + ": it is in use"),
              std::string::npos)
        << errors;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
