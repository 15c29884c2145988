#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::EventPtr;
using iaxunit::Frame;
using iaxunit::Header;
using iaxunit::IaxUnitTest;

class ReceiveTest : public IaxUnitTest {
protected:
    void SetUp() override
    {
        IaxUnitTest::SetUp();
        OpenSockets();
    }
};

TEST_F(ReceiveTest, ShortHeadersAreReportedAndDropped)
{
    struct Case {
        Bytes bytes;
    } cases[] = {{Bytes(11, 0x80)}, {Bytes{0x00, 0x01, 0x02}}, {Bytes{}}, {Bytes{0x80}}};
    for (const Case& c : cases) {
        IaxLastError[0] = '\0';
        EXPECT_EQ(Inject(c.bytes), nullptr);
        EXPECT_STREQ(IaxLastError, "Short header received from 127.0.0.1\n") << c.bytes.size();
    }
    EXPECT_EQ(IaxSessionCount(), 0);
    EXPECT_TRUE(PeerHasNothing());
}

TEST_F(ReceiveTest, OnlyANewToTheUnknownCallMarkerCreatesASession)
{
    EXPECT_EQ(Inject(Frame(0x0042, 0x0123, 0, 0, FT_IAX, IAX_NEW)), nullptr);
    EXPECT_EQ(IaxSessionCount(), 0);
    EXPECT_TRUE(PeerHasNothing());  // unmatched datagrams are not acknowledged
    EXPECT_EQ(Inject(Bytes{0x00, 0x42, 0, 0, 1, 2}), nullptr);
    EXPECT_EQ(IaxSessionCount(), 0);

    // Any other full frame to the marker matches nothing and is dropped
    // without an acknowledgement.
    struct Other {
        uint8_t frameType;
        uint8_t subclass;
        const char* payload;
    } others[] = {{FT_CONTROL, CTRL_RINGING, ""},
                  {FT_IAX, IAX_REGAUTH, "methods=md5;challenge=123456789;"},
                  {FT_IAX, IAX_PING, ""},
                  {FT_IAX, IAX_LAGRQ, ""},
                  {FT_IAX, IAX_HANGUP, ""},
                  {FT_IAX, IAX_AUTHREQ, "methods=md5;challenge=1;"},
                  {FT_IAX, IAX_TXREQ, "remip=127.0.0.1;remport=9;remcall=3;"},
                  {FT_VOICE, 2, "voice"},
                  {FT_TEXT, 0, "hello"}};
    for (const Other& other : others) {
        EXPECT_EQ(
            Inject(Frame(0x0042, 0xFFFF, 0, 0, other.frameType, other.subclass, other.payload)),
            nullptr);
        EXPECT_EQ(IaxSessionCount(), 0);
        EXPECT_EQ(IaxTimerCount(), 0);
        EXPECT_TRUE(PeerHasNothing()) << int(other.frameType) << "/" << int(other.subclass);
    }

    EventPtr call(Inject(Frame(0x0042, 0xFFFF, 0, 0, FT_IAX, IAX_NEW, "exten=100;")));
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->type, EvNewCall);
    EXPECT_EQ(IaxSessionCount(), 1);
    EXPECT_EQ(call->session->peerCallNumber, 0x42);
    EXPECT_EQ(Header(Receive()).destCall, 0x42);
}

// Strangers' NEWs make sessions up to the bound; beyond it they are dropped
// without a reply until a session goes.
TEST_F(ReceiveTest, NewcomersBeyondTheSessionBoundAreDroppedWithoutReply)
{
    std::vector<EventPtr> calls;
    for (int i = 0; i < IaxMaxLiveSessions; ++i) {
        calls.push_back(
            Inject(Frame(static_cast<uint16_t>(100 + i), 0xFFFF, 0, 0, FT_IAX, IAX_NEW)));
        ASSERT_NE(calls.back(), nullptr) << i;
        EXPECT_EQ(Header(Receive()).subclass, IAX_ACK);
    }
    EXPECT_EQ(Inject(Frame(99, 0xFFFF, 0, 0, FT_IAX, IAX_NEW)), nullptr);
    EXPECT_EQ(IaxSessionCount(), IaxMaxLiveSessions);
    EXPECT_TRUE(PeerHasNothing());
    // The user's own sessions are not newcomers.
    IaxSession* own = IaxNewSession();
    ASSERT_NE(own, nullptr);
    IaxDestroySession(own);

    IaxDestroySession(calls.front()->session);
    EventPtr next(Inject(Frame(99, 0xFFFF, 0, 0, FT_IAX, IAX_NEW)));
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(Header(Receive()).destCall, 99);
}

TEST_F(ReceiveTest, MiniFrameBeforeAnyFullVoiceFrameYieldsNothing)
{
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    EventPtr ringing(Inject(Frame(0x0042, own, 0, 0, FT_CONTROL, CTRL_RINGING)));
    ASSERT_NE(ringing, nullptr);
    EXPECT_EQ(Inject(Bytes{0x00, 0x42, 0, 1, 9, 9}), nullptr);
    EventPtr voice(Inject(Frame(0x0042, own, 0, 1, FT_VOICE, 2, "aa")));
    ASSERT_NE(voice, nullptr);
    EventPtr mini(Inject(Bytes{0x00, 0x42, 0, 0}));  // empty voice is still voice
    ASSERT_NE(mini, nullptr);
    EXPECT_EQ(mini->type, EvVoice);
    EXPECT_EQ(mini->media.data, nullptr);
    EXPECT_EQ(mini->media.length, 0);
}

TEST_F(ReceiveTest, DatagramsThroughTheSocketReachTheirSession)
{
    IaxSession* session = CallPeer();
    SendToLibrary(Frame(0x0042, static_cast<uint16_t>(session->callNumber), 0, 0, FT_DTMF, '5'));
    EventPtr event(IaxNextEvent(1));  // a datagram is waiting: returns without hanging
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->type, EvDtmf);
    EXPECT_EQ(event->digit.digit, '5');
    EXPECT_EQ(event->session, session);
    EXPECT_EQ(EventPtr(IaxNextEvent(0)), nullptr);  // nothing more waiting
}

TEST_F(ReceiveTest, TextBehindAFullSizeDatagramIsCutInsideTheBuffers)
{
    IaxSession* session = CallPeer();
    Bytes frame = Frame(0x0042, static_cast<uint16_t>(session->callNumber), 0, 0, FT_TEXT, 0);
    frame.resize(65536, 'z');  // no NUL anywhere
    EventPtr text(Inject(frame));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(strlen(text->text.text), 8191u);

    Bytes tooLong(70000, 'y');  // cut like the socket read would
    tooLong[0] = 0x80;
    EXPECT_EQ(Inject(tooLong), nullptr);
}

TEST_F(ReceiveTest, HangupTextWithoutNulIsBoundedByThePayload)
{
    IaxSession* session = CallPeer();
    std::string reason(5000, 'r');
    EventPtr hangup(Inject(Frame(0x0042, static_cast<uint16_t>(session->callNumber), 0, 0, FT_IAX,
                                 IAX_HANGUP, reason)));
    ASSERT_NE(hangup, nullptr);
    EXPECT_EQ(strlen(hangup->reason.text), 5000u);
}

// Random and mutated datagrams: the sanitizer build turns any overrun or
// leak into a failure; here every datagram must leave the library usable.
TEST_F(ReceiveTest, RandomDatagramsNeverBreakTheLibrary)
{
    unsigned seed = static_cast<unsigned>(time(nullptr));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    const std::string payloads[] = {"remip=1.2.3.4;remport=9;remcall=3;",
                                    "methods=md5;challenge=",
                                    "status=",
                                    "peercallno=",
                                    "callerid=;exten",
                                    ""};
    for (int i = 0; i < 3000; ++i) {
        Bytes bytes;
        if (i % 2) {
            bytes.resize(random() % 40);
            for (unsigned char& b : bytes)
                b = static_cast<unsigned char>(random());
        } else {
            bytes =
                Frame(static_cast<uint16_t>(random() % 4), random() % 3 ? own : 0xFFFF, random(),
                      static_cast<uint16_t>(random() % 4), static_cast<uint8_t>(random() % 11),
                      static_cast<uint8_t>(random()), payloads[random() % 6]);
        }
        Advance(random() % 50);
        EventPtr event(Inject(bytes));
        if (event) {
            EXPECT_GE(event->type, 0);
        }
        while (!PeerHasNothing())
            Receive();
        EventPtr due(IaxNextEvent(0));
        ASSERT_TRUE(IaxSessionIndexIsConsistent()) << i;
    }
    // Everything parked or queued drains once time passes.
    int due;
    for (int guard = 0; (due = IaxNextDueMs()) >= 0 && guard < 100000; ++guard) {
        Advance(static_cast<uint32_t>(due));
        testing::internal::CaptureStdout();
        EventPtr event(IaxNextEvent(0));
        testing::internal::GetCapturedStdout();
        DrainPeer();
    }
    EXPECT_EQ(IaxTimerCount(), 0);
}

}  // namespace
