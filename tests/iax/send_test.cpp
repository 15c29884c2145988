#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iax/md5.h"
#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::Frame;
using iaxunit::Header;
using iaxunit::IaxUnitTest;
using iaxunit::Payload;

class SendTest : public IaxUnitTest {
protected:
    void SetUp() override
    {
        IaxUnitTest::SetUp();
        OpenSockets();
        IaxSetFormats(2);
    }
};

TEST_F(SendTest, NewCarriesTheDialedFieldsInOrderAndNeverThePassword)
{
    IaxSession* session = IaxNewSession();
    std::string dial = "alice:hunter2@127.0.0.1:" + std::to_string(PeerPort()) + "/100@office";
    ASSERT_EQ(IaxPlaceCall(session, nullptr, dial.c_str(), nullptr), 0) << IaxLastError;
    Bytes bytes = Receive();
    IaxFullHeader header = Header(bytes);
    EXPECT_EQ(header.sourceCall, session->callNumber);
    EXPECT_EQ(header.destCall, 0xFFFF);
    EXPECT_EQ(header.sequence, 0);
    EXPECT_EQ(header.frameType, FT_IAX);
    EXPECT_EQ(header.subclass, IAX_NEW);
    EXPECT_GE(header.timestamp, 1u);
    EXPECT_EQ(Payload(bytes),
              "exten=100;dnid=100;context=office;username=alice;formats=2;version=1;");
    EXPECT_STREQ(session->username, "alice");
    EXPECT_STREQ(session->secret, "hunter2");
    EXPECT_EQ(session->outSeq, 1);
}

TEST_F(SendTest, NewToABareHostCarriesOnlyFormatsAndVersion)
{
    IaxSession* session = IaxNewSession();
    std::string dial = "127.0.0.1:" + std::to_string(PeerPort());
    ASSERT_EQ(IaxPlaceCall(session, "Me", dial.c_str(), "en"), 0);
    EXPECT_EQ(Payload(Receive()), "callerid=Me;language=en;formats=2;version=1;");
}

TEST_F(SendTest, UnresolvableHostOrMissingDialStringSendsNothing)
{
    IaxSession* session = IaxNewSession();
    EXPECT_EQ(IaxPlaceCall(session, nullptr, "no-such-host.invalid/100", nullptr), -1);
    EXPECT_STREQ(IaxLastError, "Invalid hostname: no-such-host.invalid");
    EXPECT_EQ(IaxPlaceCall(session, nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(IaxLastError, "Invalid IAX Call Handle\n");
    EXPECT_EQ(IaxPlaceCall(session, nullptr, "user@", nullptr), -1);
    EXPECT_STREQ(IaxLastError, "Invalid hostname: ");
    EXPECT_EQ(IaxPlaceCall(session, nullptr, "/600", nullptr), -1);  // not 0.0.2.88
    EXPECT_STREQ(IaxLastError, "Invalid hostname: ");
    EXPECT_EQ(session->outSeq, 0);
    EXPECT_EQ(IaxTimerCount(), 0);
    EXPECT_TRUE(PeerHasNothing());
}

// Before the peer's call number is known the HANGUP goes out once.
TEST_F(SendTest, HangUpGoesOutOnceAndEndsTheSession)
{
    IaxSession* session = CallPeer();
    ASSERT_EQ(IaxHangUp(session, ""), 0);
    Bytes hangup = Receive();
    EXPECT_EQ(hangup.size(), 12u);
    EXPECT_EQ(Header(hangup).subclass, IAX_HANGUP);
    EXPECT_EQ(Header(hangup).sequence, 1);
    EXPECT_FALSE(IaxSessionIsLive(session));
    unsigned char voice[33] = {0xD0};
    EXPECT_EQ(IaxSendVoice(session, 2, voice, sizeof voice), -1);
    EXPECT_STREQ(IaxLastError, "Invalid session for transmitting event");
    // Its retransmission checks find it finished.
    while (IaxNextDueMs() >= 0) {
        Advance(static_cast<uint32_t>(IaxNextDueMs()));
        IaxNextEvent(0);
    }
    EXPECT_TRUE(PeerHasNothing());
}

TEST_F(SendTest, RejectCarriesItsReasonWithoutNul)
{
    IaxSession* session = CallPeer();
    ASSERT_EQ(IaxRejectCall(session, "Too many calls, we're busy!"), 0);
    Bytes reject = Receive();
    EXPECT_EQ(Header(reject).subclass, IAX_REJECT);
    EXPECT_EQ(Payload(reject), "Too many calls, we're busy!");
    EXPECT_FALSE(IaxSessionIsLive(session));
}

TEST_F(SendTest, VoiceIsFullThenMiniUntilTheTimestampCrosses65536Ms)
{
    IaxSession* session = CallPeer();
    unsigned char voice[33] = {0xD1, 2, 3};
    std::vector<size_t> sizes;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(IaxSendVoice(session, 2, voice, sizeof voice), 0);
        sizes.push_back(Receive().size());
        Advance(20);
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{45, 37, 37}));
    EXPECT_EQ(session->outSeq, 2);  // NEW and the one full voice frame

    fakeMs += 65536;  // past the next multiple of 65536 ms
    ASSERT_EQ(IaxSendVoice(session, 2, voice, sizeof voice), 0);
    Bytes full = Receive();
    EXPECT_EQ(full.size(), 45u);
    EXPECT_EQ(Header(full).frameType, FT_VOICE);
    EXPECT_EQ(Header(full).subclass, 2);
    EXPECT_EQ(Header(full).sequence, 2);
    Advance(20);
    ASSERT_EQ(IaxSendVoice(session, 4, voice, sizeof voice), 0);  // format change
    EXPECT_EQ(Receive().size(), 45u);
    Advance(20);
    ASSERT_EQ(IaxSendVoice(session, 4, voice, sizeof voice), 0);
    Bytes mini = Receive();
    ASSERT_EQ(mini.size(), 37u);
    EXPECT_EQ(IaxGet16(mini.data()), session->callNumber);
    EXPECT_EQ(IaxGet16(mini.data() + 2), static_cast<uint16_t>(session->lastTxVoiceTimestamp));
    EXPECT_EQ(mini[4], 0xD1);
}

TEST_F(SendTest, VoiceAndImageLimits)
{
    IaxSession* session = CallPeer();
    std::vector<unsigned char> big(IaxMaxPayload + 1, 0x55);
    EXPECT_EQ(IaxSendVoice(session, 2, big.data(), IaxMaxPayload + 1), -1);
    EXPECT_STREQ(IaxLastError, "Voice frame too large\n");
    EXPECT_EQ(IaxSendImage(session, 1, big.data(), IaxMaxPayload + 1), -1);
    EXPECT_STREQ(IaxLastError, "Image frame too large\n");
    EXPECT_TRUE(PeerHasNothing());
    ASSERT_EQ(IaxSendImage(session, 128, big.data(), IaxMaxPayload), 0);
    Bytes image = Receive();
    EXPECT_EQ(image.size(), 32768u);
    EXPECT_EQ(Header(image).subclass, 0x87);
}

TEST_F(SendTest, QuelchedSessionSendsNoVoice)
{
    IaxSession* session = CallPeer();
    session->quelched = 1;
    unsigned char voice[33] = {0xD0};
    EXPECT_EQ(IaxSendVoice(session, 2, voice, sizeof voice), 0);
    EXPECT_TRUE(PeerHasNothing());
}

TEST_F(SendTest, AcceptCountsItsNul)
{
    IaxSession* session = CallPeer();
    ASSERT_EQ(IaxAcceptCall(session), 0);
    Bytes accept = Receive();
    ASSERT_EQ(accept.size(), 12u + 11u);
    EXPECT_EQ(Payload(accept), std::string("formats=2;\0", 11));
}

TEST_F(SendTest, AuthReplyUsesMd5OnlyWithAChallenge)
{
    IaxSession* session = CallPeer();
    ASSERT_EQ(IaxSendAuthReply(session, "secret", "12345", 3), 0);
    char digest[33];
    IaxMd5Hex("12345", "secret", digest);
    EXPECT_EQ(Payload(Receive()), std::string("md5secret=") + digest + ";");
    ASSERT_EQ(IaxSendAuthReply(session, "secret", nullptr, 2), 0);
    EXPECT_EQ(Payload(Receive()), "secret=secret;");

    IaxEvent bad{};
    bad.type = EvAuthReply;
    bad.authReply.method = 7;
    uint16_t before = session->outSeq;
    EXPECT_EQ(IaxSendEvent(session, &bad), -1);
    EXPECT_STREQ(IaxLastError, "Invalid authentication method 7\n");
    EXPECT_EQ(session->outSeq, before);
}

TEST_F(SendTest, PongEchoesWithoutASequenceNumberAndLagReplyTakesOne)
{
    IaxSession* session = CallPeer();
    IaxEvent echo{};
    echo.type = EvPong;
    echo.ts.timestamp = 777;
    ASSERT_EQ(IaxSendEvent(session, &echo), 0);
    Bytes pong = Receive();
    EXPECT_EQ(Header(pong).subclass, IAX_PONG);
    EXPECT_EQ(Header(pong).timestamp, 777u);
    EXPECT_EQ(Header(pong).sequence, 0);
    EXPECT_EQ(session->outSeq, 1);
    echo.type = EvLagReply;
    ASSERT_EQ(IaxSendEvent(session, &echo), 0);
    Bytes lag = Receive();
    EXPECT_EQ(Header(lag).subclass, IAX_LAGRP);
    EXPECT_EQ(Header(lag).timestamp, 777u);
    EXPECT_EQ(Header(lag).sequence, 1);
}

TEST_F(SendTest, SimpleRequestsMapToTheirFrames)
{
    IaxSession* session = CallPeer();
    struct Case {
        int (*send)(IaxSession*);
        uint8_t frameType;
        uint8_t subclass;
    } cases[] = {
        {IaxSendRinging, FT_CONTROL, CTRL_RINGING},
        {IaxAnswerCall, FT_CONTROL, CTRL_ANSWER},
        {IaxQuelch, FT_IAX, IAX_QUELCH},
        {IaxUnquelch, FT_IAX, IAX_UNQUELCH},
        {IaxLag, FT_IAX, IAX_LAGRQ},
        {IaxSendLoadComplete, FT_HTML, HTML_LOAD_COMPLETE},
        {IaxSendUnlink, FT_HTML, HTML_UNLINK},
        {IaxSendLinkReject, FT_HTML, HTML_LINK_REJECT},
    };
    uint16_t sequence = 1;
    for (const Case& c : cases) {
        ASSERT_EQ(c.send(session), 0);
        Bytes bytes = Receive();
        EXPECT_EQ(bytes.size(), 12u);
        EXPECT_EQ(Header(bytes).frameType, c.frameType);
        EXPECT_EQ(Header(bytes).subclass, c.subclass);
        EXPECT_EQ(Header(bytes).sequence, sequence++);
    }
    ASSERT_EQ(IaxSendTouchTone(session, '#'), 0);
    Bytes dtmf = Receive();
    EXPECT_EQ(Header(dtmf).frameType, FT_DTMF);
    EXPECT_EQ(Header(dtmf).subclass, '#');
}

TEST_F(SendTest, TextPayloadsAndUrls)
{
    IaxSession* session = CallPeer();
    ASSERT_EQ(IaxSendText(session, "hello"), 0);
    Bytes text = Receive();
    EXPECT_EQ(Header(text).frameType, FT_TEXT);
    EXPECT_EQ(Header(text).subclass, 7);
    EXPECT_EQ(Payload(text), std::string("hello\0", 6));
    std::string longText(20000, 't');
    ASSERT_EQ(IaxSendText(session, longText.c_str()), 0);
    EXPECT_EQ(Receive().size(), 12u + 8191u + 1u);  // cut to the inline record

    ASSERT_EQ(IaxSendUrl(session, "http://x/", 1), 0);
    Bytes link = Receive();
    EXPECT_EQ(Header(link).subclass, HTML_LINK_URL);
    EXPECT_EQ(Payload(link), std::string("http://x/\0", 10));
    ASSERT_EQ(IaxSendUrl(session, nullptr, 0), 0);
    EXPECT_EQ(Receive().size(), 12u);

    std::string longNumber(40000, '9');
    ASSERT_EQ(IaxDial(session, longNumber.c_str()), 0);
    EXPECT_EQ(Receive().size(), 12u + IaxMaxPayload - 1);  // cut at the payload capacity
    ASSERT_EQ(IaxDialPlanRequest(session, "555"), 0);
    Bytes request = Receive();
    EXPECT_EQ(Header(request).subclass, IAX_DPREQ);
    EXPECT_EQ(Payload(request), "555");
}

TEST_F(SendTest, RegistrationRequestCarriesPeerAndRefresh)
{
    IaxSession* session = IaxNewSession();
    ASSERT_EQ(IaxRegister(session, "127.0.0.1", PeerPort(), "me", "pw", 60), 0);
    Bytes request = Receive();
    EXPECT_EQ(Header(request).subclass, IAX_REGREQ);
    EXPECT_EQ(Payload(request), "peer=me;refresh=60;");
    EXPECT_STREQ(session->secret, "pw");
    IaxSession* bare = IaxNewSession();
    ASSERT_EQ(IaxRegister(bare, "127.0.0.1", PeerPort(), nullptr, nullptr, 0), 0);
    EXPECT_EQ(Receive().size(), 12u);
}

TEST_F(SendTest, RequestsWithoutASessionOrTypeFail)
{
    EXPECT_EQ(IaxSendEvent(nullptr, nullptr), -1);
    EXPECT_STREQ(IaxLastError, "Null event");
    IaxEvent request{};
    request.type = EvTimeout;
    EXPECT_EQ(IaxSendEvent(nullptr, &request), -1);
    EXPECT_STREQ(IaxLastError, "Invalid session for transmitting event");
    request.session = IaxNewSession();
    EXPECT_EQ(IaxSendEvent(nullptr, &request), -1);
    EXPECT_STREQ(IaxLastError, "Unknown event type.\n");
    EXPECT_EQ(IaxTimerCount(), 0);
}

TEST_F(SendTest, QueueFrameRefusesEmptyFrames)
{
    IaxFrame empty{};
    EXPECT_EQ(IaxQueueFrame(&empty), -1);
    EXPECT_STREQ(IaxLastError, "No frame data?");
}

}  // namespace
