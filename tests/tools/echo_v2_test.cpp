// The echo service's version-2 side against the version-2 library over
// loopback: the call token it demands, its MD5 challenge, voice coming
// back as it was sent, and the service as registrar calling who registered;
// and, spoken to frame by frame, what it resends and how it answers for a
// call that has ended.
#include "iax2/endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
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

// velnar-echo on ephemeral ports, stopped with the test. What it prints is
// kept, so that tests can wait for its lines.
class Echo {
public:
    explicit Echo(const std::string& password, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {VELNAR_ECHO_PEER, "--port=0"};
        if (!password.empty())
            args.push_back("--password=" + password);
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            std::vector<char*> argv;
            for (auto& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(VELNAR_ECHO_PEER, argv.data());
            _exit(127);
        }
        close(out[1]);
        m_fd = out[0];
        unsigned port = 0;
        if (WaitForLine("version 2 on 127.0.0.1:"))
            std::sscanf(m_text.c_str() + m_text.find("version 2 on"), "version 2 on 127.0.0.1:%u",
                        &port);
        m_port = static_cast<int>(port);
    }
    ~Echo()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0)
            close(m_fd);
    }
    int port() const { return m_port; }
    // True once the service has printed `text` (anywhere in its output).
    bool WaitForLine(const std::string& text, int timeoutMs = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_text.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd readable{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char chunk[512];
            const ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            m_text.append(chunk, static_cast<size_t>(n));
        }
        return true;
    }

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_fd = -1;
    std::string m_text;
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

// Sends voice until some comes back, which must be what was sent.
void ExpectEchoed(Endpoint& endpoint, int call, uint32_t format)
{
    Bytes frame(160);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    std::optional<Event> voice;
    for (int i = 0; i < 10 && !voice; ++i) {
        ASSERT_EQ(endpoint.SendVoice(call, format, frame, 160), 0) << endpoint.LastError();
        voice = WaitFor(endpoint, EventType::Voice, 100);
    }
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->payload, frame);
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

    ExpectEchoed(endpoint, call, kFormatAlaw);
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

TEST_F(EchoV2Call, CallsThatEndedHoldNoPlaceAgainstTheAddressCap)
{
    Echo echo("", {"--answer-delay-ms=0"});
    ASSERT_GT(echo.port(), 0);
    for (int i = 0; i < 20; ++i) {  // more than one address may hold at once
        SCOPED_TRACE(i);
        const int call = Call(echo.port(), "");
        ASSERT_GT(call, 0);
        ASSERT_TRUE(WaitFor(endpoint, EventType::Answered));
        ASSERT_EQ(endpoint.Hangup(call), 0);
    }
}

struct EchoV2Registrar : EchoV2Call {
    RegistrationRequest Request(int port, const std::string& password)
    {
        RegistrationRequest request;
        request.user = "alice";
        request.password = password;
        request.host = "127.0.0.1";
        request.port = port;
        return request;
    }
    std::optional<std::string> RegistrationAfter(int timeoutMs = 3000)
    {
        auto event = WaitFor(endpoint, EventType::Registration, timeoutMs);
        return event ? std::optional(event->text) : std::nullopt;
    }
};

TEST_F(EchoV2Registrar, RegistersWithTokenAndMd5ThenReleases)
{
    Echo echo("s3cret");
    ASSERT_GT(echo.port(), 0);
    ASSERT_EQ(endpoint.Register(Request(echo.port(), "s3cret")), 0) << endpoint.LastError();
    EXPECT_EQ(RegistrationAfter(), "Registered");
    EXPECT_TRUE(echo.WaitForLine(
        "registered alice at 127.0.0.1:" + std::to_string(endpoint.port()) + "\n"));
    ASSERT_EQ(endpoint.Unregister(), 0);
    WaitFor(endpoint, EventType::Hangup, 300);  // lets the release go out
    EXPECT_TRUE(echo.WaitForLine("released alice\n"));
}

TEST_F(EchoV2Registrar, WrongPasswordIsRefused)
{
    Echo echo("s3cret");
    ASSERT_GT(echo.port(), 0);
    ASSERT_EQ(endpoint.Register(Request(echo.port(), "guess")), 0);
    EXPECT_EQ(RegistrationAfter(), "Registration refused");
    EXPECT_TRUE(echo.WaitForLine("registration refused for alice\n"));
    EXPECT_FALSE(echo.WaitForLine("registered alice", 200));
}

TEST_F(EchoV2Registrar, RingsTheRegisteredUserOnceAndEchoesWhenAnswered)
{
    Echo echo("", {"--ring-registered=0"});
    ASSERT_GT(echo.port(), 0);
    ASSERT_EQ(endpoint.Register(Request(echo.port(), "")), 0);
    auto incoming = WaitFor(endpoint, EventType::IncomingCall);
    ASSERT_TRUE(incoming);
    EXPECT_EQ(incoming->number, "600");
    EXPECT_EQ(incoming->name, "Echo");
    EXPECT_EQ(incoming->formats, static_cast<uint32_t>(kFormatUlaw | kFormatAlaw | kFormatGsm));
    EXPECT_TRUE(echo.WaitForLine("ringing alice\n"));
    ASSERT_EQ(endpoint.Answer(incoming->call), 0) << endpoint.LastError();
    EXPECT_TRUE(echo.WaitForLine("answered by alice\n"));

    ExpectEchoed(endpoint, incoming->call, incoming->format);
    EXPECT_EQ(endpoint.Hangup(incoming->call), 0);
    // Registering again from where the user is refreshes: no second call.
    ASSERT_EQ(endpoint.Register(Request(echo.port(), "")), 0);
    EXPECT_FALSE(WaitFor(endpoint, EventType::IncomingCall, 500));
}

TEST_F(EchoV2Registrar, DeclinedCallIsReportedWithItsCause)
{
    Echo echo("pw", {"--ring-registered=0"});
    ASSERT_GT(echo.port(), 0);
    ASSERT_EQ(endpoint.Register(Request(echo.port(), "pw")), 0);
    auto incoming = WaitFor(endpoint, EventType::IncomingCall);
    ASSERT_TRUE(incoming);
    ASSERT_EQ(endpoint.Hangup(incoming->call, "Call rejected", kCauseCallRejected), 0);
    EXPECT_TRUE(echo.WaitForLine("declined by alice (cause 21)\n"));
}

// A bare UDP socket speaking frames written here, for what the library
// would never send: requests from the wrong address, forged tokens.
class RawPeer {
public:
    explicit RawPeer(int echoPort)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        address.sin_port = htons(static_cast<uint16_t>(echoPort));
        connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~RawPeer() { close(m_fd); }
    size_t SendRegReq(const std::string& user, const std::string& token)
    {
        const Bytes ies =
            IeWriter()
                .Text(kIeUsername, user)
                .U16(kIeRefresh, 3600)
                .Raw(kIeCallToken,
                     ByteView(reinterpret_cast<const uint8_t*>(token.data()), token.size()))
                .bytes();
        FullHeader header;
        header.source = 0x1234;
        header.type = kTypeCommand;
        header.subclass = kRegReq;
        Bytes frame;
        AppendFull(header, ies, &frame);
        send(m_fd, frame.data(), frame.size(), 0);
        return frame.size();
    }
    // The next frame's header and elements; false after timeoutMs of silence.
    bool Receive(FullHeader* header, Ies* ies, size_t* bytes, int timeoutMs = 1000)
    {
        pollfd readable{m_fd, POLLIN, 0};
        uint8_t buffer[1500];
        if (poll(&readable, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        ByteView data;
        *bytes = n > 0 ? static_cast<size_t>(n) : 0;
        return ParseFull(ByteView(buffer, *bytes), header, &data) == 0 && ParseIes(data, ies) == 0;
    }
    void Send(const FullHeader& header, const Bytes& ies = {})
    {
        Bytes frame;
        ASSERT_EQ(AppendFull(header, ies, &frame), 0);
        send(m_fd, frame.data(), frame.size(), 0);
    }
    void SendMini(const MiniHeader& header, const Bytes& payload)
    {
        Bytes frame;
        ASSERT_EQ(AppendMini(header, payload, &frame), 0);
        send(m_fd, frame.data(), frame.size(), 0);
    }
    // The next full frame of that type and subclass (others are skipped);
    // nothing after timeoutMs.
    std::optional<FullHeader> Await(uint8_t type, uint32_t subclass, int timeoutMs,
                                    Ies* ies = nullptr)
    {
        using std::chrono::steady_clock;
        const auto end = steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (steady_clock::now() < end) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(end - steady_clock::now());
            Ies elements;  // voice is no list of elements: only the header counts
            size_t bytes = 0;
            last = FullHeader{};
            Receive(&last, &elements, &bytes, static_cast<int>(left.count()));
            if (last.type == type && last.subclass == subclass) {
                if (ies)
                    *ies = elements;
                return last;
            }
        }
        return std::nullopt;
    }
    uint16_t port = 0;
    FullHeader last;  // of the latest frame received

private:
    int m_fd = -1;
};

TEST(EchoV2Tokens, BoundToTheAddressAndNeverAnsweredLarger)
{
    Echo echo("");
    ASSERT_GT(echo.port(), 0);
    RawPeer peer(echo.port()), stranger(echo.port());
    FullHeader header;
    Ies ies;
    size_t replyBytes = 0;
    const size_t requestBytes = peer.SendRegReq("bob", "");
    ASSERT_TRUE(peer.Receive(&header, &ies, &replyBytes));
    ASSERT_EQ(header.subclass, static_cast<uint32_t>(kCallToken));
    EXPECT_EQ(header.source, 0);
    EXPECT_LE(replyBytes, requestBytes);
    ASSERT_TRUE(ies.callToken && !ies.callToken->empty());

    // Another address with the token, or the token altered: silence.
    stranger.SendRegReq("bob", *ies.callToken);
    EXPECT_FALSE(stranger.Receive(&header, &ies, &replyBytes, 300));
    std::string forged = *ies.callToken;
    forged[0] = static_cast<char>(forged[0] ^ 1);
    peer.SendRegReq("bob", forged);
    EXPECT_FALSE(peer.Receive(&header, &ies, &replyBytes, 300));

    peer.SendRegReq("bob", *ies.callToken);
    Ies ack;
    ASSERT_TRUE(peer.Receive(&header, &ack, &replyBytes));
    ASSERT_EQ(header.subclass, static_cast<uint32_t>(kRegAck));
    EXPECT_EQ(ack.username, "bob");
    EXPECT_EQ(ack.refresh, 60);  // an hour asked, a minute granted
    ASSERT_TRUE(ack.apparentAddress);
    EXPECT_EQ(ack.apparentAddress->port, peer.port);
    EXPECT_TRUE(ack.dateTime);
    EXPECT_TRUE(echo.WaitForLine("registered bob at 127.0.0.1:" + std::to_string(peer.port)));
}

TEST(EchoV2Wire, UnacknowledgedFramesAreResentAndAnEndedCallStillAnswers)
{
    Echo echo("");
    ASSERT_GT(echo.port(), 0);
    RawPeer caller(echo.port());
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
    const auto* tokenOctets = reinterpret_cast<const uint8_t*>(token.callToken->data());
    Bytes withToken = IeWriter()
                          .U16(kIeVersion, kProtocolVersion)
                          .Raw(kIeCallToken, ByteView(tokenOctets, token.callToken->size()))
                          .bytes();
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
    // Our full frame arrives late, resent: acknowledged, and too stale to echo.
    const uint8_t ourNext = uint8_t(caller.last.oseqno + 1);
    caller.Send({0x1234, theirs, true, 25, 1, ourNext, kTypeVoice, kFormatUlaw}, Bytes(160, 0x7E));
    EXPECT_TRUE(caller.Await(kTypeCommand, kAck, 2000));
    EXPECT_FALSE(caller.Await(kTypeVoice, kFormatUlaw, 300));

    // Our HANGUP acknowledges all of it by its ISeqno, and is acknowledged.
    const FullHeader hangup{0x1234, theirs, false, 40, 2, ourNext, kTypeCommand, kHangup};
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
    caller.Send({0x1234, theirs, false, 60, 3, hangup.iseqno, kTypeVoice, kFormatUlaw},
                Bytes(160, 0xFF));
    EXPECT_TRUE(caller.Await(kTypeCommand, kInval, 2000));
    EXPECT_FALSE(caller.Await(kTypeControl, kCtrlAnswer, 2500))
        << "the HANGUP's ISeqno acknowledged everything: nothing is resent";
}

}  // namespace
