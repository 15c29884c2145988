// The threaded scripted server against the real library on the real clock,
// the way the engine and interface tests use it.
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>

#include "iax/iax.h"
#include "iax/testing.h"

namespace iaxpeer {
namespace {

class ScriptedServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(IaxOpenSocket(-1), 0) << IaxLastError;
        IaxSetFormats(kGsmFormat);
    }
    void TearDown() override { IaxResetForTesting(); }

    // The next event of that type, letting other events pass; null after waitMs.
    static IaxEvent* Await(int type, int waitMs = 3000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            IaxEvent* e = IaxNextEvent(0);
            if (e && e->type == type)
                return e;
            if (e) {
                IaxFreeEvent(e);
                continue;
            }
            pollfd p{IaxSocketHandle(), POLLIN, 0};
            poll(&p, 1, 10);
        }
        return nullptr;
    }

    static bool Saw(int type)
    {
        IaxEvent* e = Await(type);
        if (e)
            IaxFreeEvent(e);
        return e != nullptr;
    }
};

TEST_F(ScriptedServerTest, AcceptsRingsAnswersEchoesAndSeesTheHangup)
{
    ScriptedServer server;
    IaxSession* s = IaxNewSession();
    std::string dial = "alice:pw@127.0.0.1:" + std::to_string(server.Port()) + "/100";
    ASSERT_EQ(IaxPlaceCall(s, nullptr, dial.c_str(), nullptr), 0);
    EXPECT_TRUE(Saw(EvAccept)) << server.Log();
    EXPECT_TRUE(Saw(EvRinging)) << server.Log();
    EXPECT_TRUE(Saw(EvAnswer)) << server.Log();
    EXPECT_EQ(server.CallsOffered(), 1);
    EXPECT_NE(server.LastNewText().find("username=alice;"), std::string::npos);

    Bytes frame(33, 0xD7);
    ASSERT_EQ(IaxSendVoice(s, kGsmFormat, frame.data(), 33), 0);
    IaxEvent* echo = Await(EvVoice);
    ASSERT_NE(echo, nullptr) << server.Log();
    EXPECT_EQ(Bytes(echo->media.data, echo->media.data + echo->media.length), frame);
    IaxFreeEvent(echo);

    ASSERT_EQ(IaxSendTouchTone(s, '4'), 0);
    ASSERT_EQ(IaxSendTouchTone(s, '2'), 0);
    EXPECT_TRUE(ScriptedServer::WaitFor([&] { return server.Digits() == "42"; }, 3000))
        << server.Log();
    ASSERT_EQ(IaxHangUp(s, ""), 0);
    EXPECT_TRUE(ScriptedServer::WaitFor([&] { return server.HangupsReceived() == 1; }, 3000));
    EXPECT_GE(server.VoiceFramesReceived(), 1);
}

TEST_F(ScriptedServerTest, RejectsWhenToldAndHangsUpOnRequest)
{
    ScriptedServerOptions rejecting;
    rejecting.rejectReason = "No such number";
    ScriptedServer refuser(rejecting);
    IaxSession* s = IaxNewSession();
    std::string dial = "127.0.0.1:" + std::to_string(refuser.Port()) + "/9";
    ASSERT_EQ(IaxPlaceCall(s, nullptr, dial.c_str(), nullptr), 0);
    IaxEvent* reject = Await(EvReject);
    ASSERT_NE(reject, nullptr) << refuser.Log();
    EXPECT_STREQ(reject->reason.text, "No such number");
    IaxFreeEvent(reject);

    ScriptedServer server;
    IaxSession* t = IaxNewSession();
    dial = "127.0.0.1:" + std::to_string(server.Port()) + "/100";
    ASSERT_EQ(IaxPlaceCall(t, nullptr, dial.c_str(), nullptr), 0);
    ASSERT_TRUE(Saw(EvAnswer)) << server.Log();
    server.HangUp("Normal clearing");
    IaxEvent* hangup = Await(EvHangup);
    ASSERT_NE(hangup, nullptr) << server.Log();
    EXPECT_STREQ(hangup->reason.text, "Normal clearing");
    IaxFreeEvent(hangup);
}

TEST_F(ScriptedServerTest, OffersACallToThePhone)
{
    ScriptedServer server;
    // The library's socket has no port until it is known; the test opened it
    // on an ephemeral one.
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ASSERT_EQ(getsockname(IaxSocketHandle(), reinterpret_cast<sockaddr*>(&bound), &len), 0);
    server.CallPhone(ntohs(bound.sin_port), "callerid=Server;exten=100;formats=2;version=1;");
    IaxEvent* call = Await(EvNewCall);
    ASSERT_NE(call, nullptr) << server.Log();
    EXPECT_STREQ(call->call.callerId, "Server");
    IaxFreeEvent(call);
}

}  // namespace
}  // namespace iaxpeer
