// The echo service's version-2 side against the version-2 library over
// loopback: the call token it demands, its MD5 challenge, and voice coming
// back as it was sent.
#include "iax2/endpoint.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace {

using namespace iax2;

// velnar-echo on ephemeral ports, stopped with the test.
class Echo {
public:
    explicit Echo(const std::string& password)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            const std::string secret = "--password=" + password;
            execl(VELNAR_ECHO_PEER, VELNAR_ECHO_PEER, "--port=0", "--quiet",
                  password.empty() ? "--quiet" : secret.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[256];
        while (lines && std::fgets(line, sizeof line, lines)) {
            unsigned port = 0;
            if (std::sscanf(line, "version 2 on 127.0.0.1:%u", &port) == 1) {
                m_port = static_cast<int>(port);
                break;
            }
        }
        m_lines = lines;
    }
    ~Echo()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_lines)
            std::fclose(m_lines);
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
    FILE* m_lines = nullptr;
};

std::optional<Event> WaitFor(Endpoint& endpoint, EventType type, int timeoutMs = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        Event event;
        while (endpoint.NextEvent(&event))
            if (event.type == type)
                return event;
        pollfd readable{endpoint.handle(), POLLIN, 0};
        const int due = endpoint.NextDueMs();
        poll(&readable, 1, due < 0 || due > 20 ? 20 : due);
        endpoint.Service();
    }
    return std::nullopt;
}

struct EchoV2Call : ::testing::Test {
    Endpoint endpoint;
    void SetUp() override { ASSERT_GT(endpoint.Open(0), 0); }
    int Call(int port, const std::string& password)
    {
        CallRequest request;
        request.user = "me";
        request.password = password;
        request.host = "127.0.0.1";
        request.port = port;
        request.number = "100";
        request.formats = {kFormatAlaw};
        return endpoint.PlaceCall(request);
    }
};

TEST_F(EchoV2Call, ChallengedCallConnectsAndVoiceComesBack)
{
    Echo echo("p@ss:w/rd");
    ASSERT_GT(echo.port(), 0);
    const int call = Call(echo.port(), "p@ss:w/rd");
    ASSERT_GT(call, 0) << endpoint.LastError();
    auto accepted = WaitFor(endpoint, EventType::Accepted);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->format, static_cast<uint32_t>(kFormatAlaw));
    ASSERT_TRUE(WaitFor(endpoint, EventType::Answered));

    Bytes frame(160);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i);
    std::optional<Event> voice;
    for (int i = 0; i < 10 && !voice; ++i) {
        ASSERT_EQ(endpoint.SendVoice(call, kFormatAlaw, frame, 160), 0) << endpoint.LastError();
        voice = WaitFor(endpoint, EventType::Voice, 100);
    }
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->payload, frame);
    EXPECT_EQ(endpoint.Hangup(call), 0);
}

TEST_F(EchoV2Call, WrongPasswordIsRejected)
{
    Echo echo("right");
    ASSERT_GT(echo.port(), 0);
    ASSERT_GT(Call(echo.port(), "wrong"), 0);
    auto rejected = WaitFor(endpoint, EventType::Rejected);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->causeCode, 21);
    EXPECT_FALSE(WaitFor(endpoint, EventType::Accepted, 300));
}

TEST_F(EchoV2Call, WithoutPasswordTheCallIsTakenUnchallenged)
{
    Echo echo("");
    ASSERT_GT(echo.port(), 0);
    ASSERT_GT(Call(echo.port(), ""), 0);
    ASSERT_TRUE(WaitFor(endpoint, EventType::Accepted));
    EXPECT_TRUE(WaitFor(endpoint, EventType::Answered));
}

}  // namespace
