// A second caller's frames act only on its own call: while the user's placed
// call waits for its server, the frames of a caller the idle phone took in
// before must neither connect, answer, reject nor play on the user's call.
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/scripted_server.h"

#include "iax/iax.h"

#include <gtest/gtest.h>

#include <vector>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitAck;
using test::AwaitFull;
using test::DialStringFor;
using test::FakePhone;
using test::PumpBriefly;
using test::PumpUntil;
using Texts = std::vector<std::string>;

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

}  // namespace
}  // namespace velnar
