// Registration (token, challenge, refresh, release) and the calls that
// registration lets in, over real UDP on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>

#include "iax/md5.h"
#include "tests/iax2/scripted_peer.h"

namespace {

using namespace iax2;
using peer2::Frame;
using peer2::Ie;
using peer2::IeNumber;

struct Iax2Registration : ::testing::Test {
    static EndpointOptions Options()
    {
        EndpointOptions options;
        options.jitterDelayMs = 0;
        options.pingIntervalMs = 600000;
        return options;
    }
    Endpoint endpoint{Options()};
    peer2::ScriptedPeer registrar;

    void SetUp() override { ASSERT_GT(endpoint.Open(0), 0); }
    RegistrationRequest Request(int refreshSeconds = 60)
    {
        return RegistrationRequest{"agent", "s3cret", "127.0.0.1", registrar.port(),
                                   refreshSeconds};
    }
    // One registration exchange from its first REGREQ (or REGREL) to the
    // REGACK, with a token and a challenge; the REGACK grants refreshSeconds.
    void Exchange(uint8_t request, uint16_t refreshSeconds, const char* token = "t0k")
    {
        auto first = registrar.ExpectCommand(endpoint, request);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->destination, 0);
        EXPECT_EQ(first->Text(kIeUsername), "agent");
        EXPECT_EQ(first->Text(kIeCallToken), "");
        registrar.theirs = first->source;
        registrar.ours = 0;
        registrar.Send(endpoint, 6, kCallToken, Ie(kIeCallToken, token));
        registrar.ours = 0x2B67;
        registrar.oseqno = registrar.iseqno = 0;
        auto withToken = registrar.ExpectCommand(endpoint, request);
        ASSERT_TRUE(withToken);
        EXPECT_EQ(withToken->Text(kIeCallToken), token);
        registrar.Send(endpoint, 6, kRegAuth,
                       peer2::Join({Ie(kIeUsername, "agent"), IeNumber(kIeAuthMethods, kAuthMd5, 2),
                                    Ie(kIeChallenge, "99")}));
        auto answered = registrar.ExpectCommand(endpoint, request);
        ASSERT_TRUE(answered);
        char md5[33];
        IaxMd5Hex("99", "s3cret", md5);
        EXPECT_EQ(answered->Text(kIeMd5Result), md5);
        EXPECT_EQ(answered->destination, 0x2B67);
        EXPECT_EQ(answered->Ie(kIePassword), nullptr);
        registrar.Send(endpoint, 6, kRegAck, IeNumber(kIeRefresh, refreshSeconds, 2));
        ASSERT_TRUE(registrar.ExpectCommand(endpoint, kAck));
        registrar.oseqno = registrar.iseqno = 0;
    }
    void Registered()
    {
        ASSERT_EQ(endpoint.Register(Request()), 0) << endpoint.LastError();
        Exchange(kRegReq, 60);
        auto state = registrar.ExpectEvent(endpoint, EventType::Registration);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->text, "Registered");
    }
};

TEST_F(Iax2Registration, RefreshesWithinTheGrantedPeriodAndReleases)
{
    ASSERT_EQ(endpoint.Register(Request(2)), 0);
    Exchange(kRegReq, 2);
    const auto granted = std::chrono::steady_clock::now();
    ASSERT_TRUE(registrar.ExpectEvent(endpoint, EventType::Registration));
    EXPECT_EQ(endpoint.RegistrationState(), "Registered");
    auto refresh = registrar.ExpectCommand(endpoint, kRegReq, 5000);
    ASSERT_TRUE(refresh);
    const auto waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - granted)
                              .count();
    EXPECT_GE(waitedMs, 950);          // 50 % of 2 s, less a little scheduling slack
    EXPECT_LE(waitedMs, 1600 + 1000);  // 80 %, with generous room on a loaded machine
    EXPECT_EQ(refresh->destination, 0) << "a refresh is a dialog of its own";
    registrar.theirs = refresh->source;
    registrar.Send(endpoint, 6, kRegAck, IeNumber(kIeRefresh, 60, 2));
    ASSERT_TRUE(registrar.ExpectCommand(endpoint, kAck));
    registrar.oseqno = registrar.iseqno = 0;

    ASSERT_EQ(endpoint.Unregister(), 0);
    Exchange(kRegRel, 0);
    auto state = registrar.ExpectEvent(endpoint, EventType::Registration);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->text, "Not registered");
}

TEST_F(Iax2Registration, ARegistrarGrantingNothingIsNotAskedInATightLoop)
{
    ASSERT_EQ(endpoint.Register(Request()), 0);
    auto request = registrar.ExpectCommand(endpoint, kRegReq);
    ASSERT_TRUE(request);
    registrar.theirs = request->source;
    registrar.Send(endpoint, 6, kRegAck, IeNumber(kIeRefresh, 0, 2));
    ASSERT_TRUE(registrar.ExpectEvent(endpoint, EventType::Registration));
    EXPECT_FALSE(registrar.ExpectCommand(endpoint, kRegReq, 900)) << "not before half of 2 s";
    EXPECT_TRUE(registrar.ExpectCommand(endpoint, kRegReq, 3000));
}

TEST_F(Iax2Registration, RefusedRegistrationIsNotRetried)
{
    ASSERT_EQ(endpoint.Register(Request()), 0);
    auto request = registrar.ExpectCommand(endpoint, kRegReq);
    ASSERT_TRUE(request);
    registrar.theirs = request->source;
    registrar.Send(endpoint, 6, kRegRej,
                   peer2::Join({Ie(kIeCause, "No such user"), IeNumber(kIeCauseCode, 21, 1)}));
    auto state = registrar.ExpectEvent(endpoint, EventType::Registration);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->text, "Registration refused");
    EXPECT_TRUE(registrar.ExpectCommand(endpoint, kAck));
    EXPECT_TRUE(registrar.Quiet(endpoint, 1500));
}

TEST_F(Iax2Registration, IncomingCallFromTheRegistrarAnsweredThenDeclined)
{
    Registered();
    // Only the registrar may call: the same NEW from elsewhere gets nothing.
    peer2::ScriptedPeer stranger;
    const peer2::Bytes fresh = peer2::Join({IeNumber(kIeVersion, 2, 2), Ie(kIeCalledNumber, "2001"),
                                            Ie(kIeCallingNumber, "555"), Ie(kIeCallingName, "Ann"),
                                            IeNumber(kIeCapability, kFormatGsm | kFormatAlaw, 4),
                                            IeNumber(kIeFormat, kFormatGsm, 4)});
    stranger.Send(endpoint, 6, kNew, fresh);
    EXPECT_TRUE(stranger.Quiet(endpoint, 300));

    for (bool answer : {true, false}) {
        registrar.theirs = 0;
        registrar.oseqno = registrar.iseqno = 0;
        registrar.ours = answer ? 0x3001 : 0x3002;
        registrar.Send(endpoint, 6, kNew, fresh);
        auto accept = registrar.ExpectCommand(endpoint, kAccept);
        ASSERT_TRUE(accept);
        EXPECT_EQ(accept->Number(kIeFormat), uint32_t(kFormatAlaw))
            << "our preference among theirs";
        registrar.theirs = accept->source;
        auto ringing = registrar.Expect(endpoint, [](const Frame& f) { return f.type == 4; });
        ASSERT_TRUE(ringing);
        EXPECT_EQ(ringing->subclass, kCtrlRinging);
        auto incoming = registrar.ExpectEvent(endpoint, EventType::IncomingCall);
        ASSERT_TRUE(incoming);
        EXPECT_EQ(incoming->number, "555");
        EXPECT_EQ(incoming->name, "Ann");
        EXPECT_EQ(incoming->formats, uint32_t(kFormatGsm | kFormatAlaw));
        if (answer) {
            ASSERT_EQ(endpoint.Answer(incoming->call), 0);
            auto answered = registrar.Expect(endpoint, [](const Frame& f) { return f.type == 4; });
            ASSERT_TRUE(answered);
            EXPECT_EQ(answered->subclass, kCtrlAnswer);
            registrar.Send(endpoint, 2, kFormatAlaw, peer2::Bytes(320, 0xD5));
            auto voice = registrar.ExpectEvent(endpoint, EventType::Voice);
            ASSERT_TRUE(voice);
            EXPECT_EQ(voice->samples, 320) << "two frames in one";
        } else {
            ASSERT_EQ(endpoint.Hangup(incoming->call, "Call rejected", kCauseCallRejected), 0);
            auto hangup = registrar.ExpectCommand(endpoint, kHangup);
            ASSERT_TRUE(hangup);
            EXPECT_EQ(hangup->Number(kIeCauseCode), 21u);
            registrar.Ack(endpoint, *hangup);
        }
    }
}

TEST_F(Iax2Registration, UnansweredIncomingCallsAreCapped)
{
    Registered();
    registrar.ours = 0x3105;
    registrar.theirs = 0;
    registrar.oseqno = registrar.iseqno = 0;
    registrar.Send(
        endpoint, 6, kNew,
        peer2::Join({IeNumber(kIeVersion, 1, 2), IeNumber(kIeCapability, kFormatUlaw, 4)}));
    EXPECT_TRUE(registrar.Expect(endpoint, [](const Frame& f) {
        return f.IsCommand(kReject) && f.destination == 0x3105;
    })) << "version 1 is refused";
    const peer2::Bytes fresh =
        peer2::Join({IeNumber(kIeVersion, 2, 2), IeNumber(kIeCapability, kFormatUlaw, 4)});
    for (uint16_t caller = 0x3100; caller < 0x3105; ++caller) {
        registrar.ours = caller;
        registrar.theirs = 0;
        registrar.oseqno = registrar.iseqno = 0;
        registrar.Send(endpoint, 6, kNew, fresh);
        auto answer = registrar.Expect(endpoint, [&](const Frame& f) {
            return f.destination == caller && (f.IsCommand(kAccept) || f.IsCommand(kReject));
        });
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->subclass, caller < 0x3104 ? kAccept : kReject) << "caller " << caller;
    }
}

TEST_F(Iax2Registration, ReleaseAllHangsUpAndUnregistersWithinItsDeadline)
{
    Registered();
    registrar.ours = 0x3003;
    registrar.theirs = 0;
    registrar.Send(
        endpoint, 6, kNew,
        peer2::Join({IeNumber(kIeVersion, 2, 2), IeNumber(kIeCapability, kFormatUlaw, 4)}));
    auto incoming = registrar.ExpectEvent(endpoint, EventType::IncomingCall);
    ASSERT_TRUE(incoming);
    const auto start = std::chrono::steady_clock::now();
    endpoint.ReleaseAll(300);  // nobody answers: the deadline ends it
    const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_GE(tookMs, 250);
    EXPECT_LT(tookMs, 2000);
    EXPECT_TRUE(registrar.ExpectCommand(endpoint, kHangup, 100));
    EXPECT_TRUE(registrar.ExpectCommand(endpoint, kRegRel, 100));
    EXPECT_EQ(endpoint.RegistrationState(), "Not registered");
}

TEST_F(Iax2Registration, PokeIsAnsweredStatelesslyAndWithinBudget)
{
    peer2::ScriptedPeer poker;
    int pongs = 0;
    for (int i = 0; i < 15; ++i) {
        poker.oseqno = poker.iseqno = 0;
        poker.Send(endpoint, 6, kPoke);
    }
    while (auto pong = poker.ExpectCommand(endpoint, kPong, 300)) {
        EXPECT_EQ(pong->destination, poker.ours);
        EXPECT_NE(pong->source, 0);
        EXPECT_EQ(pong->data.size(), 0u) << "never larger than the POKE";
        ++pongs;
    }
    EXPECT_EQ(pongs, 10) << "ten replies a second to one stranger";
    EXPECT_EQ(endpoint.NextDueMs(), -1) << "no state was created";
}

}  // namespace
