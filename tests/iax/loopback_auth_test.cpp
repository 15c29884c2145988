// Challenges for calls and registrations, answered by the library itself
// where it knows the secret. Expected digests come from the reference MD5 of
// the test support, never from the library's own.
#include "tests/iax/loopback_fixture.h"

namespace loopback {
namespace {

using namespace iaxpeer;

class LoopbackAuthTest : public LoopbackTest {
protected:
    IaxSession* PlaceAuthenticatedCall()
    {
        IaxSession* s = IaxNewSession();
        std::string dial = "alice:sesame@" + PeerDial();
        EXPECT_EQ(IaxPlaceCall(s, nullptr, dial.c_str(), nullptr), 0) << IaxLastError;
        EXPECT_TRUE(m_peer.ExpectIax(kNew)) << m_peer.LastError();
        return s;
    }
};

TEST_F(LoopbackAuthTest, Md5ChallengeForTheCallingUserIsAnsweredInside)
{
    IaxSession* s = PlaceAuthenticatedCall();
    FullHeader req =
        m_peer.SendIax(kAuthReq, "methods=md5,plaintext;challenge=98765;username=alice;");
    ExpectNoEvent();
    auto rep = m_peer.ExpectIax(kAuthRep);
    ASSERT_TRUE(rep) << m_peer.LastError();
    EXPECT_EQ(rep->Text(), "md5secret=" + Md5Hex("98765sesame") + ";");
    EXPECT_EQ(rep->payload.size(), rep->Text().size()) << "no NUL behind the element";
    EXPECT_EQ(rep->sequence, 1);
    EXPECT_TRUE(m_peer.ExpectAckOf(req)) << m_peer.LastError();

    // The ACCEPT is the first frame the library times, so no clock advance
    // here: the peer's time stamps started with the AUTHREQ.
    m_peer.SendIax(kAccept, "formats=2;", true);
    auto e = ExpectEvent(EvAccept);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
}

TEST_F(LoopbackAuthTest, PlaintextChallengeSendsTheSecret)
{
    PlaceAuthenticatedCall();
    m_peer.SendIax(kAuthReq, "methods=plaintext;username=alice;");
    ExpectNoEvent();
    auto rep = m_peer.ExpectIax(kAuthRep);
    ASSERT_TRUE(rep) << m_peer.LastError();
    EXPECT_EQ(rep->Text(), "secret=sesame;");
}

TEST_F(LoopbackAuthTest, Md5OfferedWithoutChallengeFallsBackToPlaintext)
{
    PlaceAuthenticatedCall();
    m_peer.SendIax(kAuthReq, "methods=md5;username=alice;");
    ExpectNoEvent();
    auto rep = m_peer.ExpectIax(kAuthRep);
    ASSERT_TRUE(rep) << m_peer.LastError();
    EXPECT_EQ(rep->Text(), "secret=sesame;");
}

TEST_F(LoopbackAuthTest, ChallengeForAnotherUserBecomesAnEvent)
{
    IaxSession* s = PlaceAuthenticatedCall();
    m_peer.SendIax(kAuthReq, "methods=md5;challenge=1234;username=bob;");
    auto e = ExpectEvent(EvAuthRequest);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    EXPECT_EQ(e->authRequest.methods, IaxAuthMd5);
    ASSERT_NE(e->authRequest.challenge, nullptr);
    EXPECT_STREQ(e->authRequest.challenge, "1234");
    ASSERT_NE(e->authRequest.username, nullptr);
    EXPECT_STREQ(e->authRequest.username, "bob");
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << "nothing answered: " << m_peer.LastError();

    // The user answers it through the public operation.
    ASSERT_EQ(IaxAuthReply(s, "hunter2", e->authRequest.challenge, e->authRequest.methods), 0);
    auto rep = m_peer.ExpectIax(kAuthRep);
    ASSERT_TRUE(rep) << m_peer.LastError();
    EXPECT_EQ(rep->Text(), "md5secret=" + Md5Hex("1234hunter2") + ";");
}

TEST_F(LoopbackAuthTest, CallWithoutSecretLeavesTheChallengeToTheUser)
{
    IaxSession* s = IaxNewSession();
    std::string dial = "alice@" + PeerDial();
    ASSERT_EQ(IaxPlaceCall(s, nullptr, dial.c_str(), nullptr), 0);
    ASSERT_TRUE(m_peer.ExpectIax(kNew)) << m_peer.LastError();
    m_peer.SendIax(kAuthReq, "methods=plaintext,md5;challenge=77;username=alice;");
    auto e = ExpectEvent(EvAuthRequest);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->authRequest.methods, IaxAuthMd5 | IaxAuthPlaintext);
}

TEST_F(LoopbackAuthTest, RegistrationAnswersItsChallengeAndEndsWithTheReply)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxRegister(s, "127.0.0.1", m_peer.Port(), "alice", "sesame", 60), 0) << IaxLastError;
    auto first = m_peer.ExpectIax(kRegReq);
    ASSERT_TRUE(first) << m_peer.LastError();
    EXPECT_EQ(first->Text(), "peer=alice;refresh=60;");
    EXPECT_EQ(first->destCall, kUnknownCall);

    // Only the first 11 characters of the challenge count.
    m_peer.SendIax(kRegAuth, "methods=md5;challenge=123456789012345;");
    ExpectNoEvent();
    auto second = m_peer.ExpectIax(kRegReq);
    ASSERT_TRUE(second) << m_peer.LastError();
    EXPECT_EQ(second->Text(),
              "peer=alice;refresh=60;md5secret=" + Md5Hex("12345678901sesame") + ";");
    EXPECT_EQ(second->sequence, first->sequence + 1);
    EXPECT_EQ(second->destCall, m_peer.Call().ownCall);

    m_peer.SendIax(kRegAck, "yourip=127.0.0.1;yourport=4569;refresh=120;callerid=Alice;");
    auto e = ExpectEvent(EvRegisterReply);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->session, s);
    EXPECT_EQ(e->regReply.result, 1);
    ASSERT_NE(e->regReply.yourIp, nullptr);
    EXPECT_STREQ(e->regReply.yourIp, "127.0.0.1");
    EXPECT_EQ(e->regReply.yourPort, 4569);
    EXPECT_EQ(e->regReply.refresh, 120);
    ASSERT_NE(e->regReply.callerId, nullptr);
    EXPECT_STREQ(e->regReply.callerId, "Alice");
    EXPECT_FALSE(IaxSessionIsLive(s));
}

TEST_F(LoopbackAuthTest, RegistrationWithPlaintextChallengeAndRejection)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxRegister(s, "127.0.0.1", m_peer.Port(), nullptr, "sesame", 0), 0);
    auto first = m_peer.ExpectIax(kRegReq);
    ASSERT_TRUE(first) << m_peer.LastError();
    EXPECT_EQ(first->datagramBytes, 12u) << "neither peer nor refresh given";

    m_peer.SendIax(kRegAuth, "methods=plaintext;");
    ExpectNoEvent();
    auto second = m_peer.ExpectIax(kRegReq);
    ASSERT_TRUE(second) << m_peer.LastError();
    EXPECT_EQ(second->Text(), "peer=;refresh=0;secret=sesame;");

    m_peer.SendIax(kRegRej, "refresh=30;");
    auto e = ExpectEvent(EvRegisterReply);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->regReply.result, 2);
    EXPECT_EQ(e->regReply.yourIp, nullptr);
    EXPECT_EQ(e->regReply.refresh, 30);
    EXPECT_FALSE(IaxSessionIsLive(s));
}

TEST_F(LoopbackAuthTest, RegistrationChallengeWithoutMethodsIsDropped)
{
    IaxSession* s = IaxNewSession();
    ASSERT_EQ(IaxRegister(s, "127.0.0.1", m_peer.Port(), "alice", "sesame", 60), 0);
    ASSERT_TRUE(m_peer.ExpectIax(kRegReq)) << m_peer.LastError();
    FullHeader h = m_peer.SendIax(kRegAuth, "challenge=42;");
    ExpectNoEvent();
    EXPECT_TRUE(m_peer.ExpectAckOf(h)) << m_peer.LastError();
    EXPECT_TRUE(m_peer.ExpectSilence(20)) << m_peer.LastError();
}

}  // namespace
}  // namespace loopback
