// Call control over real UDP on 127.0.0.1: the engine against scripted peers
// that send and read raw IAX frames.
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/md5_reference.h"
#include "tests/support/scripted_server.h"

#include "iax/iax.h"
#include "iax/testing.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitAck;
using test::AwaitFull;
using test::AwaitIax;
using test::DialStringFor;
using test::FakePhone;
using test::LibraryPort;
using test::PumpBriefly;
using test::PumpUntil;
using Texts = std::vector<std::string>;

const char kIgnored[] =
    "Incoming call ignored, there's already a call waiting for answer... please accept or "
    "reject first";
const char kMissed[] = "Missed a call... too many sessions open.";

class CallControl : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
    }

    // Dials the peer and checks that its NEW arrived.
    void DialPeer()
    {
        phone().Dial(DialStringFor(peer.Port()));
        auto newFrame = AwaitIax(peer, kNew);
        ASSERT_TRUE(newFrame) << peer.LastError();
        newText = newFrame->Text();
    }

    bool WaitForStatus(const std::string& text)
    {
        return PumpUntil([&] {
            for (const auto& status : fp.owner.statuses)
                if (status == text)
                    return true;
            return false;
        });
    }

    // A second peer offering a call to the phone.
    std::unique_ptr<IaxTestPeer> Caller()
    {
        auto caller = std::make_unique<IaxTestPeer>();
        caller->SetAutoAck(true);
        caller->SetTarget(LibraryPort());
        caller->StartCall();
        caller->SendIax(kNew, "exten=100;formats=2;version=1;");
        return caller;
    }

    // Places a call and lets the peer end it, leaving the engine Ready with
    // read notifications on.
    void CallAndLetPeerHangUp()
    {
        DialPeer();
        peer.SendIax(kHangup);
        ASSERT_TRUE(WaitForStatus("Ready"));
        fp.owner.statuses.clear();
    }

    test::TestPhone& phone() { return *fp.phone; }

    FakePhone fp;
    IaxTestPeer peer;
    std::string newText;
};

TEST_F(CallControl, StartShowsNothingAndOutgoingCallAdvertisesGsm)
{
    EXPECT_TRUE(fp.owner.statuses.empty());
    EXPECT_FALSE(phone().IsInCall());
    DialPeer();
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    EXPECT_TRUE(phone().IsInCall());
    EXPECT_NE(newText.find("exten=100;"), std::string::npos) << newText;
    EXPECT_NE(newText.find("formats=2;"), std::string::npos) << newText;
}

TEST_F(CallControl, CallDuringCallAndEmptyDialStringAreIgnored)
{
    phone().Dial("");
    EXPECT_FALSE(phone().IsInCall());
    EXPECT_TRUE(fp.owner.statuses.empty());
    DialPeer();
    phone().Dial(DialStringFor(peer.Port(), "200"));
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    EXPECT_EQ(phone().CallCount(), 1u);
}

TEST_F(CallControl, AcceptConnectsAndAnswerStartsTalkingAndAnswersBack)
{
    DialPeer();
    peer.SendIax(kAccept, "formats=2;", true);
    ASSERT_TRUE(WaitForStatus("Connected"));
    EXPECT_FALSE(phone().IsTalking());
    peer.SendControl(kRinging);
    peer.SendControl(kAnswer);
    ASSERT_TRUE(PumpUntil([&] { return phone().IsTalking(); }));
    auto answer = AwaitFull(peer, kControl, kAnswer);
    EXPECT_TRUE(answer) << peer.LastError();
    // The console line never reaches the status line.
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Connected"}));
}

TEST_F(CallControl, PeerHangupShowsThreeTextsAndEndsCall)
{
    DialPeer();
    peer.SendIax(kHangup, "bye", true);
    ASSERT_TRUE(WaitForStatus("Ready"));
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Call disconnected by peer", "Hanging up...", "Ready"}));
    EXPECT_FALSE(phone().IsInCall());
    EXPECT_EQ(phone().CallCount(), 0u);
    EXPECT_EQ(phone().OutgoingSession(), nullptr);
}

TEST_F(CallControl, UserHangUpSendsEmptyHangupAndReleasesRecords)
{
    DialPeer();
    phone().HangUp();
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Hanging up...", "Ready"}));
    auto hangup = AwaitIax(peer, kHangup);
    ASSERT_TRUE(hangup) << peer.LastError();
    EXPECT_TRUE(hangup->payload.empty());
    EXPECT_EQ(phone().CallCount(), 0u);
    EXPECT_EQ(phone().CurrentCall(), nullptr);
    EXPECT_FALSE(phone().IsInCall());
}

TEST_F(CallControl, RejectKeepsTheCallUntilHangUp)
{
    DialPeer();
    peer.SendIax(kReject, "No authority found", true);
    ASSERT_TRUE(WaitForStatus("Authentication was rejected"));
    EXPECT_TRUE(phone().IsInCall());
    phone().SendTones("5");  // refused by the library: the session is gone
    phone().HangUp();
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Authentication was rejected", "Hanging up...", "Ready"}));
    EXPECT_FALSE(phone().IsInCall());
}

// A password with ';' or '=' goes out as an MD5 answer only; a server that
// wants it in plain text gets nothing, and the call ends at once.
TEST_F(CallControl, PlainChallengeForPasswordWithSeparatorsEndsTheCall)
{
    const CallTarget target{"alice", "a;b=c@d", "127.0.0.1", peer.Port(), "100", ""};
    for (const char* methods :
         {"methods=md5;challenge=42;username=alice;", "methods=plaintext;username=alice;"}) {
        SCOPED_TRACE(methods);
        peer.StartCall();
        fp.owner.statuses.clear();
        phone().Dial(target);
        auto newFrame = AwaitIax(peer, kNew);
        ASSERT_TRUE(newFrame) << peer.LastError();
        EXPECT_EQ(newFrame->Text().find("a;b"), std::string::npos) << newFrame->Text();
        peer.SendIax(kAuthReq, methods);
        if (std::string(methods).find("md5") != std::string::npos) {
            auto reply = AwaitIax(peer, kAuthRep);
            ASSERT_TRUE(reply) << peer.LastError();
            EXPECT_EQ(reply->Text(), "md5secret=" + Md5Hex("42a;b=c@d") + ";");
            phone().HangUp();
            continue;
        }
        ASSERT_TRUE(WaitForStatus("Ready"));
        EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Password cannot be sent in plain text",
                                            "Hanging up...", "Ready"}));
        auto hangup = AwaitIax(peer, kHangup);
        ASSERT_TRUE(hangup) << "the call ends without an answer: " << peer.LastError();
    }
}

TEST_F(CallControl, AuthenticationRequestWithoutCredentialsHangsUp)
{
    DialPeer();
    peer.SendIax(kAuthReq, "methods=md5;challenge=1234567;");
    ASSERT_TRUE(WaitForStatus("Ready"));
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Authentyfication required!", "Hanging up...", "Ready"}));
    EXPECT_TRUE(AwaitIax(peer, kHangup)) << peer.LastError();
}

TEST_F(CallControl, BusyAndRingingChangeNothing)
{
    DialPeer();
    peer.SendControl(kRinging);
    auto busy = peer.SendControl(kBusy);
    ASSERT_TRUE(AwaitAck(peer, busy)) << peer.LastError();
    PumpBriefly();
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    EXPECT_TRUE(phone().IsInCall());
}

TEST_F(CallControl, TouchTonesGoOutOnlyDuringACall)
{
    phone().SendTones("3");  // idle: nothing, no crash
    DialPeer();
    phone().SendTones("7");
    auto dtmf = AwaitFull(peer, kDtmf, '7');
    EXPECT_TRUE(dtmf) << peer.LastError();
}

TEST_F(CallControl, UnresolvableServerShowsCannotConnectThenHangUpTexts)
{
    phone().Dial("nosuchhost.invalid/100");
    // The name is looked up in the background: the phone keeps running.
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    ASSERT_TRUE(PumpUntil([&] { return fp.owner.Last() == "Ready"; }, 30000));
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Cannot connect- bad server name? ", "Hanging up...", "Ready"}));
    EXPECT_FALSE(phone().IsInCall());
    // Capture that started while the name was looked up is stopped by the
    // hang-up: its buffers are out of the device while the engine is idle.
    EXPECT_TRUE(PumpUntil([&] { return fp.in->QueuedCount() == 0; }));
    EXPECT_EQ(fp.owner.Last(), "Ready");
}

// Looking up the server's name without stalling the phone: a resolver that
// never answers leaves the call at "Calling..." with Hang up working, and
// the library is handed only the address the resolver found. This resolver
// answers when the test says so.
struct HeldResolver : NameResolver {
    void Lookup(const std::string& name, Done done) override
    {
        names.push_back(name);
        pending = std::move(done);
    }
    void Cancel() override { cancels += std::exchange(pending, nullptr) ? 1 : 0; }
    std::vector<std::string> names;
    int cancels = 0;
    Done pending;
};

class ServerLookup : public testing::Test {
protected:
    void SetUp() override
    {
        peer.SetAutoAck(true);
        auto resolver = std::make_unique<HeldResolver>();
        held = resolver.get();
        fp.phone->UseResolver(std::move(resolver));
        fp.phone->Dial("alice@pbx.example:" + std::to_string(peer.Port()) + "/600");
    }
    void Answer(const std::string& address) { std::exchange(held->pending, nullptr)(address); }

    FakePhone fp;
    IaxTestPeer peer;
    HeldResolver* held = nullptr;  // owned by the phone
};

TEST_F(ServerLookup, UnansweredLookupShowsCallingAndHangUpCancelsIt)
{
    PumpBriefly();
    EXPECT_EQ(held->names, Texts{"pbx.example"});
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    fp.phone->SendTones("5");  // nowhere to send yet
    fp.phone->HangUp();
    EXPECT_EQ(held->cancels, 1);
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Hanging up...", "Ready"}));
    EXPECT_EQ(IaxSessionCount(), 0);
    PumpBriefly();
    EXPECT_TRUE(peer.ExpectSilence(200));  // not a digit, not even a HANGUP
}

TEST_F(ServerLookup, FoundAddressCarriesTheCallAndNoAddressFailsIt)
{
    Answer("127.0.0.1");
    auto newFrame = AwaitIax(peer, kNew);
    ASSERT_TRUE(newFrame) << peer.LastError();
    EXPECT_NE(newFrame->Text().find("username=alice;"), std::string::npos) << newFrame->Text();
    EXPECT_NE(newFrame->Text().find("exten=600;"), std::string::npos) << newFrame->Text();
    fp.phone->HangUp();
    // The same for a call placed from separate fields.
    peer.StartCall();
    fp.phone->Dial(CallTarget{"bob", "p@ss", "pbx.example", peer.Port(), "700", ""});
    EXPECT_EQ(held->names.back(), "pbx.example");
    Answer("127.0.0.1");
    newFrame = AwaitIax(peer, kNew);
    ASSERT_TRUE(newFrame) << peer.LastError();
    EXPECT_NE(newFrame->Text().find("exten=700;"), std::string::npos) << newFrame->Text();
    fp.phone->HangUp();
    fp.owner.statuses.clear();
    fp.phone->Dial("pbx.example/600");
    Answer("");
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Cannot connect- bad server name? ", "Hanging up...", "Ready"}));
    EXPECT_EQ(IaxSessionCount(), 0);
}

// Dial ignores a call during a call, so the guard in PlaceCall against a
// second attempt can only be reached from inside: this phone opens it for
// this one test.
class PlacingPhone : public test::TestPhone {
public:
    using CIaxPhone::PlaceCall;
    using TestPhone::TestPhone;
};

TEST(CallControlGuard, SecondPlaceCallWhileAttemptingIsRefused)
{
    IaxTestPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetAutoAck(true);
    FakePhone fp({}, [](PhoneOwner& owner, std::unique_ptr<WaveIn> in, std::unique_ptr<WaveOut> out,
                        int localPort) {
        return std::make_unique<PlacingPhone>(owner, std::move(in), std::move(out), localPort);
    });
    auto& phone = static_cast<PlacingPhone&>(*fp.phone);
    phone.Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
    phone.PlaceCall(DialStringFor(peer.Port(), "200"));
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Already attempting to call somewhere, please cancel first!"}));
    EXPECT_EQ(phone.CallCount(), 1u);
}

TEST_F(CallControl, NothingIsReadBeforeTheFirstOutgoingCall)
{
    auto early = Caller();
    PumpBriefly();
    EXPECT_TRUE(fp.owner.statuses.empty());
    EXPECT_EQ(phone().CallCount(), 0u);
    // The first call turns notifications on; the waiting NEW is then a
    // newcomer while a call is current.
    DialPeer();
    auto reject = AwaitIax(*early, kReject);
    ASSERT_TRUE(reject) << early->LastError();
    EXPECT_EQ(reject->Text(), "Too many calls, we're busy!");
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", kIgnored}));
}

TEST_F(CallControl, IncomingCallIsAcceptedAndRungWithoutStatus)
{
    CallAndLetPeerHangUp();
    auto caller = Caller();
    auto accept = AwaitIax(*caller, kAccept);
    ASSERT_TRUE(accept) << caller->LastError();
    EXPECT_EQ(accept->Text(), "formats=2;");
    EXPECT_TRUE(AwaitFull(*caller, kControl, kRinging)) << caller->LastError();
    PumpBriefly();
    EXPECT_TRUE(fp.owner.statuses.empty());
    EXPECT_FALSE(phone().IsInCall());
    ASSERT_NE(phone().CurrentCall(), nullptr);
    // The user cannot answer it, only end it.
    phone().HangUp();
    EXPECT_TRUE(AwaitIax(*caller, kHangup)) << caller->LastError();
    EXPECT_EQ(fp.owner.statuses, (Texts{"Hanging up...", "Ready"}));
}

TEST_F(CallControl, WaitingIncomingCallPlaysVoiceAndAnAnswerSendsNothing)
{
    CallAndLetPeerHangUp();
    auto caller = Caller();
    ASSERT_TRUE(AwaitFull(*caller, kControl, kRinging)) << caller->LastError();
    caller->SendVoice(kGsmFormat, test::GsmFramesOfTone(500, 2));
    ASSERT_TRUE(PumpUntil([&] { return fp.out->Written().size() == 2; }));
    caller->SendControl(kAnswer);
    ASSERT_TRUE(PumpUntil([&] { return phone().IsTalking(); }));
    EXPECT_FALSE(phone().IsInCall());
    EXPECT_TRUE(AwaitFull(*caller, kControl, kAnswer)) << caller->LastError();
    // Capture is not running, so nothing can be sent.
    EXPECT_FALSE(fp.in->IsStarted() && fp.in->QueuedCount() > 0);
    EXPECT_TRUE(fp.owner.statuses.empty());
}

TEST_F(CallControl, ClosingThePhoneDuringACallSendsNoHangup)
{
    DialPeer();
    peer.SendIax(kAccept, "formats=2;", true);
    ASSERT_TRUE(WaitForStatus("Connected"));
    fp.phone.reset();
    EXPECT_FALSE(peer.ExpectIax(kHangup, 300));
}

TEST_F(CallControl, CallPlacedWhileIncomingWaitsBecomesCurrent)
{
    CallAndLetPeerHangUp();
    auto caller = Caller();
    ASSERT_TRUE(AwaitFull(*caller, kControl, kRinging)) << caller->LastError();
    const PhoneCall* waiting = phone().CurrentCall();
    ASSERT_NE(waiting, nullptr);
    peer.StartCall();
    DialPeer();
    EXPECT_EQ(phone().CallCount(), 2u);
    EXPECT_NE(phone().CurrentCall(), waiting);
    EXPECT_EQ(phone().CurrentCall()->session, phone().OutgoingSession());
}

// A second caller's frames act only on its own call: while the user's placed
// call waits for its server, the frames of a caller the idle phone took in
// before must neither connect, answer, reject nor play on the user's call.
class SessionIsolation : public testing::Test {
protected:
    // One call that the server answers and then ends, leaving the phone
    // Ready and reading its socket.
    void CallOnceAndBeHungUpOn()
    {
        ScriptedServer first;
        fp.phone->Dial(DialStringFor(first.Port()));
        ASSERT_TRUE(PumpUntil([&] { return fp.phone->IsTalking(); })) << first.Log();
        first.HangUp();
        ASSERT_TRUE(PumpUntil([&] { return !fp.phone->IsInCall(); })) << first.Log();
    }

    // Party X calls in; the idle phone accepts and rings.
    void CallerRingsIn()
    {
        caller.SetAutoAck(true);
        caller.SetTarget(test::LibraryPort());
        caller.StartCall();
        caller.SendIax(kNew, "exten=100;formats=2;version=1;");
        ASSERT_TRUE(AwaitFull(caller, kControl, kRinging)) << caller.LastError();
    }

    FakePhone fp;
    IaxTestPeer caller;
};

TEST_F(SessionIsolation, WaitingCallersFramesNeverTouchThePlacedCall)
{
    ASSERT_TRUE(caller.Ok());
    CallOnceAndBeHungUpOn();
    CallerRingsIn();
    ScriptedServerOptions silent;
    silent.accept = silent.ring = silent.answer = false;
    ScriptedServer server(silent);
    fp.owner.statuses.clear();
    fp.phone->Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil([&] { return server.CallsOffered() == 1; }));
    const size_t played = fp.out->Written().size();

    caller.SendIax(kAccept, "formats=2;", true);
    caller.SendControl(kRinging);
    caller.SendControl(kBusy);
    caller.SendFull(kText, 0, Bytes{'h', 'i', 0});
    caller.SendFull(kDtmf, '5');
    caller.SendVoice(kGsmFormat, test::GsmFramesOfTone(500, 2));
    auto answer = caller.SendControl(kAnswer);
    ASSERT_TRUE(AwaitAck(caller, answer)) << caller.LastError();
    // Voice may sit in the jitter buffer for a moment before it would play.
    EXPECT_FALSE(PumpUntil([&] { return fp.out->Written().size() > played; }, 500));
    EXPECT_FALSE(fp.phone->IsTalking());
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});

    // The caller's end releases its record and nothing else.
    caller.SendIax(kReject, "go away", true);
    ASSERT_TRUE(PumpUntil([&] { return fp.phone->CallCount() == 1; }));
    PumpBriefly();
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    ASSERT_NE(fp.phone->CurrentCall(), nullptr);
    EXPECT_EQ(fp.phone->CurrentCall()->session, fp.phone->OutgoingSession());
    EXPECT_TRUE(fp.phone->IsInCall());

    // The real call is still the one the user ends; the server never heard
    // an answer or a digit meant for someone else.
    fp.phone->HangUp();
    ASSERT_TRUE(PumpUntil([&] { return server.HangupsReceived() == 1; })) << server.Log();
    EXPECT_EQ(server.Log().find("type=4 sub=4("), std::string::npos) << server.Log();
    EXPECT_EQ(server.VoiceFramesReceived(), 0);
    EXPECT_TRUE(server.Digits().empty());
    EXPECT_FALSE(caller.ExpectIax(kHangup, 200));
}

TEST_F(CallControl, IncomingCallDuringACallIsRejectedBusy)
{
    DialPeer();
    auto caller = Caller();
    auto reject = AwaitIax(*caller, kReject);
    ASSERT_TRUE(reject) << caller->LastError();
    EXPECT_EQ(reject->Text(), "Too many calls, we're busy!");
    ASSERT_TRUE(WaitForStatus(kIgnored));
    EXPECT_EQ(phone().CallCount(), 1u);
    EXPECT_TRUE(phone().IsInCall());
}

TEST_F(CallControl, FourthNewcomerOfOneDrainIsAMissedCall)
{
    CallAndLetPeerHangUp();
    std::vector<std::unique_ptr<IaxTestPeer>> callers;
    for (int i = 0; i < 5; ++i)
        callers.push_back(Caller());  // all wait in the socket before one drain
    ASSERT_TRUE(PumpUntil([&] { return fp.owner.statuses.size() >= 6; }));
    EXPECT_EQ(fp.owner.statuses, (Texts{kIgnored, kIgnored, kMissed, kIgnored, kMissed, kIgnored}));
    EXPECT_TRUE(AwaitIax(*callers[0], kAccept)) << callers[0]->LastError();
    for (int i = 1; i < 5; ++i)
        EXPECT_TRUE(AwaitIax(*callers[i], kReject)) << i << callers[i]->LastError();
}

// The library's clock, driven by the test.
uint32_t g_fakeTicksMs = 1000;
uint32_t FakeTicks()
{
    return g_fakeTicksMs;
}

class CallControlOnFakeClock : public CallControl {
protected:
    void SetUp() override
    {
        IaxSetTickSource(FakeTicks);
        CallControl::SetUp();
        peer.SetClock(FakeTicks);
    }
    void TearDown() override { IaxSetTickSource(nullptr); }

    // A peer on the test's clock that sends to the phone.
    std::unique_ptr<IaxTestPeer> Stranger(bool autoAck, uint16_t ownCall = 0)
    {
        auto stranger = std::make_unique<IaxTestPeer>();
        stranger->SetAutoAck(autoAck);
        stranger->SetClock(FakeTicks);
        stranger->SetTarget(LibraryPort());
        stranger->StartCall(ownCall);
        return stranger;
    }

    // Lets that much library time pass, servicing every entry that comes
    // due on the way.
    void AdvanceBy(uint32_t ms)
    {
        PumpBriefly();  // what has arrived is read at the present time
        uint32_t until = g_fakeTicksMs + ms;
        for (int dueMs = IaxNextDueMs(); dueMs >= 0 && g_fakeTicksMs + uint32_t(dueMs) <= until;
             dueMs = IaxNextDueMs())
            AdvanceToNextDue();
        g_fakeTicksMs = until;
        phone().Pump().Arm();
        PumpBriefly();
    }

    // Moves the library clock to its earliest due entry and lets the engine's
    // timer service it. False when nothing is scheduled.
    bool AdvanceToNextDue()
    {
        int dueMs = IaxNextDueMs();
        if (dueMs < 0)
            return false;
        g_fakeTicksMs += static_cast<uint32_t>(dueMs);
        phone().Pump().Arm();
        PumpUntil([&] { return IaxNextDueMs() != 0; }, 1000);
        return true;
    }
};

TEST_F(CallControlOnFakeClock, LostNewIsResentWithoutAnyDatagramArriving)
{
    peer.SetAutoAck(false);
    DialPeer();
    ASSERT_TRUE(phone().Pump().IsArmed());
    ASSERT_TRUE(AdvanceToNextDue());
    auto again = AwaitIax(peer, kNew);
    ASSERT_TRUE(again) << peer.LastError();
    EXPECT_EQ(again->Text(), newText);
}

TEST_F(CallControlOnFakeClock, SilentServerTimesOutAndHangsUp)
{
    peer.SetAutoAck(false);
    DialPeer();
    for (int step = 0; step < 100 && fp.owner.Last() != "Ready"; ++step)
        if (!AdvanceToNextDue())
            break;
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Time out- server dead?", "Hanging up...", "Ready"}));
    EXPECT_FALSE(phone().IsInCall());
}

// A stranger's registration challenges, 2 s apart, once answered with a
// REGREQ each: the first REGREQ's time-out became an incoming call, the
// second one's hung up the real call placed meanwhile.
TEST_F(CallControlOnFakeClock, StrangersRegistrationChallengeCannotEndTheNextCall)
{
    CallAndLetPeerHangUp();
    auto stranger = Stranger(false, 777);
    stranger->SendIax(kRegAuth, "methods=md5;challenge=123456789;");
    AdvanceBy(2000);
    stranger->SendIax(kRegAuth, "methods=md5;challenge=123456789;");
    AdvanceBy(74000);  // past the first REGREQ's give-up, before the second's
    peer.StartCall();
    DialPeer();
    peer.SendIax(kAccept, "formats=2;", true);
    ASSERT_TRUE(WaitForStatus("Connected"));
    AdvanceBy(4000);
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Connected"}));
    EXPECT_TRUE(phone().IsInCall());
    EXPECT_EQ(phone().CallCount(), 1u);
    stranger->Drain();
    EXPECT_TRUE(stranger->Pending().empty()) << stranger->LastError();
    EXPECT_TRUE(stranger->Acks().empty());
}

// Time-outs, hang-ups and authentication requests end the current call only
// on its own session; on a waiting call that a placed call superseded they
// release it silently, and on a session the engine never knew (here one the
// test opened on the library) they, and rejects, never become a call.
TEST_F(CallControlOnFakeClock, EndingEventsOfOtherSessionsLeaveTheCurrentCall)
{
    enum Kind { Timeout, Hangup, AuthRequest, Reject };
    struct Case {
        const char* name;
        Kind kind;
        bool known;  // a superseded waiting call, else a session unknown to the engine
    } cases[] = {
        {"time-out of a waiting call", Timeout, true},
        {"hang-up of a waiting call", Hangup, true},
        {"authentication request of a waiting call", AuthRequest, true},
        {"time-out of an unknown session", Timeout, false},
        {"hang-up of an unknown session", Hangup, false},
        {"authentication request of an unknown session", AuthRequest, false},
        {"reject of an unknown session", Reject, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer.Drain();
        peer.ClearPending();
        CallAndLetPeerHangUp();
        auto other = Stranger(c.kind != Timeout);
        IaxSession* session = nullptr;
        if (c.known) {
            other->SendIax(kNew, "exten=100;formats=2;version=1;");
            ASSERT_TRUE(AwaitFull(*other, kControl, kRinging)) << other->LastError();
            session = static_cast<IaxSession*>(phone().CurrentCall()->session);
            peer.StartCall();
            DialPeer();
            peer.SendIax(kAccept, "formats=2;", true);
            ASSERT_TRUE(WaitForStatus("Connected"));
            fp.owner.statuses.clear();
        } else {
            session = IaxNewSession();
            ASSERT_EQ(IaxPlaceCall(session, nullptr, DialStringFor(other->Port()).c_str(), nullptr),
                      0);
            ASSERT_TRUE(AwaitIax(*other, kNew)) << other->LastError();
        }
        other->Drain();
        other->ClearPending();
        switch (c.kind) {
        case Timeout: AdvanceBy(80000); break;
        case Hangup: other->SendIax(kHangup, "bye", true); break;
        case AuthRequest: other->SendIax(kAuthReq, "methods=md5;challenge=1234567;"); break;
        case Reject: other->SendIax(kReject, "go away", true); break;
        }
        PumpUntil([&] { return !IaxSessionIsLive(session); }, 1000);
        EXPECT_FALSE(IaxSessionIsLive(session));
        EXPECT_TRUE(fp.owner.statuses.empty()) << fp.owner.Last();
        EXPECT_EQ(phone().IsInCall(), c.known);
        EXPECT_EQ(phone().CallCount(), c.known ? 1u : 0u);
        // Nothing new went to the other side: no answer, no hang-up, no
        // ACCEPT or RINGING of an incoming call; only the retransmissions
        // of what was sent before, when it was never acknowledged.
        other->Drain();
        for (const auto& frame : other->Pending()) {
            bool resent = c.kind == Timeout &&
                          (c.known ? (frame.type == kIax && frame.subclass == kAccept) ||
                                         (frame.type == kControl && frame.subclass == kRinging)
                                   : frame.type == kIax && frame.subclass == kNew);
            EXPECT_TRUE(resent) << int(frame.type) << "/" << frame.subclass;
        }
        if (c.known) {
            phone().HangUp();
            ASSERT_TRUE(AwaitIax(peer, kHangup)) << peer.LastError();
        }
        fp.owner.statuses.clear();
        peer.StartCall();
    }
}

// A waiting call that a placed call superseded goes with the reset: the
// library forgets its session, and nothing goes to its caller.
TEST_F(CallControl, ResetForgetsTheSessionsOfSupersededCalls)
{
    CallAndLetPeerHangUp();
    auto caller = Caller();
    ASSERT_TRUE(AwaitFull(*caller, kControl, kRinging)) << caller->LastError();
    auto* waiting = static_cast<IaxSession*>(phone().CurrentCall()->session);
    peer.StartCall();
    DialPeer();
    phone().HangUp();
    EXPECT_FALSE(IaxSessionIsLive(waiting));
    EXPECT_TRUE(AwaitIax(peer, kHangup)) << peer.LastError();
    EXPECT_FALSE(caller->ExpectIax(kHangup, 200));
    // The caller's next frame finds no session and is not answered.
    caller->Drain();
    caller->ClearPending();
    size_t acks = caller->Acks().size();
    caller->SendIax(kHangup);
    PumpBriefly();
    EXPECT_TRUE(caller->ExpectSilence(200));
    EXPECT_EQ(caller->Acks().size(), acks);
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Hanging up...", "Ready"}));
}

// A dial string without an address part fails at once, like a server name
// that does not resolve; the number never becomes an address.
TEST_F(CallControl, DialStringWithoutAddressFailsAtOnce)
{
    for (const char* dial : {"/600", "/", "//600", "/127.0.0.1"}) {
        SCOPED_TRACE(dial);
        fp.owner.statuses.clear();
        phone().Dial(dial);
        EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Cannot connect- bad server name? ",
                                            "Hanging up...", "Ready"}));
        EXPECT_FALSE(phone().IsInCall());
        EXPECT_EQ(IaxSessionCount(), 0);  // the attempt left nothing behind
    }
}

}  // namespace
}  // namespace velnar
