// The echo service's version-2 side against the version-2 library over
// loopback: the call token it demands, its MD5 challenge, and voice coming
// back as it was sent; and, spoken to frame by frame, what it resends and
// how it answers for a call that has ended.
#include "iax2/endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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

// A caller made of a bare socket, so that the test decides what is
// acknowledged and what is lost.
struct RawCaller {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in echo{};
    FullHeader last;  // of the latest frame received
    explicit RawCaller(int port)
    {
        sockaddr_in self{};
        self.sin_family = echo.sin_family = AF_INET;
        self.sin_addr.s_addr = echo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
        echo.sin_port = htons(static_cast<uint16_t>(port));
    }
    ~RawCaller() { close(fd); }
    void Send(const FullHeader& header, const Bytes& data = {})
    {
        Bytes datagram;
        ASSERT_EQ(AppendFull(header, data, &datagram), 0);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&echo),
               sizeof echo);
    }
    void SendMini(const MiniHeader& header, const Bytes& data)
    {
        Bytes datagram;
        ASSERT_EQ(AppendMini(header, data, &datagram), 0);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&echo),
               sizeof echo);
    }
    // The next full frame of that type and subclass.
    std::optional<FullHeader> Await(uint8_t type, uint32_t subclass, int timeoutMs,
                                    Ies* ies = nullptr)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t buffer[2048];
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now()) {
            pollfd readable{fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
            if (poll(&readable, 1, static_cast<int>(left.count()) + 1) <= 0)
                continue;
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            ByteView data;
            if (n <= 0 || ParseFull(ByteView(buffer, static_cast<size_t>(n)), &last, &data) != 0)
                continue;
            if (last.type == type && last.subclass == subclass) {
                if (ies)
                    ParseIes(data, ies);
                return last;
            }
        }
        return std::nullopt;
    }
};

TEST(EchoV2Wire, UnacknowledgedFramesAreResentAndAnEndedCallStillAnswers)
{
    Echo echo("");
    ASSERT_GT(echo.port(), 0);
    RawCaller caller(echo.port());
    const Bytes offer = IeWriter()
                            .U16(kIeVersion, kProtocolVersion)
                            .Text(kIeCalledNumber, "100")
                            .U32(kIeCapability, kFormatUlaw)
                            .U32(kIeFormat, kFormatUlaw)
                            .bytes();
    FullHeader mine{0x1234, 0, false, 5, 0, 0, kTypeCommand, kNew};
    caller.Send(mine, offer);
    Ies token;
    ASSERT_TRUE(caller.Await(kTypeCommand, kCallToken, 2000, &token));
    ASSERT_TRUE(token.callToken);
    Bytes withToken =
        IeWriter().U16(kIeVersion, kProtocolVersion).Text(kIeCallToken, *token.callToken).bytes();
    withToken.insert(withToken.end(), offer.begin() + 4, offer.end());
    mine.timestamp = 6;
    caller.Send(mine, withToken);

    // Nothing is acknowledged: the ACCEPT comes again, marked as a resend.
    auto accept = caller.Await(kTypeCommand, kAccept, 2000);
    ASSERT_TRUE(accept);
    EXPECT_FALSE(accept->retransmitted);
    const uint16_t theirs = accept->source;
    auto again = caller.Await(kTypeCommand, kAccept, 3000);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->retransmitted);
    EXPECT_EQ(again->oseqno, accept->oseqno);
    EXPECT_EQ(again->timestamp, accept->timestamp);

    // Our voice begins with a mini, its full frame lost: the echo's own
    // voice still begins with a full frame, which names the codec.
    ASSERT_TRUE(caller.Await(kTypeControl, kCtrlAnswer, 3000));
    caller.SendMini({0x1234, 30}, Bytes(160, 0x7F));
    auto voice = caller.Await(kTypeVoice, kFormatUlaw, 2000);
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->source, theirs);

    // Our HANGUP acknowledges all of it by its ISeqno, and is acknowledged.
    const FullHeader hangup{0x1234,       theirs, false, 40, 1, uint8_t(caller.last.oseqno + 1),
                            kTypeCommand, kHangup};
    caller.Send(hangup);
    auto ack = caller.Await(kTypeCommand, kAck, 2000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->timestamp, 40u);
    // As if that ACK were lost: the HANGUP again is acknowledged again, and
    // anything newer hears that the call is gone; nothing more is resent.
    FullHeader resent = hangup;
    resent.retransmitted = true;
    caller.Send(resent);
    ack = caller.Await(kTypeCommand, kAck, 2000);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->timestamp, 40u);
    caller.Send({0x1234, theirs, false, 60, 2, hangup.iseqno, kTypeVoice, kFormatUlaw},
                Bytes(160, 0xFF));
    EXPECT_TRUE(caller.Await(kTypeCommand, kInval, 2000));
    EXPECT_FALSE(caller.Await(kTypeControl, kCtrlAnswer, 2500))
        << "the HANGUP's ISeqno acknowledged everything: nothing is resent";
}

}  // namespace
