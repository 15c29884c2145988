#include <gtest/gtest.h>

#include <string>

#include "iax/md5.h"
#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::EventPtr;
using iaxunit::Frame;
using iaxunit::Header;
using iaxunit::IaxUnitTest;
using iaxunit::Payload;

constexpr uint16_t kPeerCall = 0x0005;

// Frames arrive with time stamps that follow the controlled clock, so every
// delay is 0 and the jitter buffer hands events out at once.
class FrameHandlingTest : public IaxUnitTest {
protected:
    void SetUp() override
    {
        IaxUnitTest::SetUp();
        OpenSockets();
        session = CallPeer();
        own = static_cast<uint16_t>(session->callNumber);
    }

    // A frame from the peer whose time stamp matches its arrival on the
    // session's receive clock. Without a sequence number it takes the peer's
    // next one, as a peer numbers its frames.
    EventPtr Arrive(uint8_t frameType, uint8_t subclass, const std::string& payload = "",
                    int sequence = -1)
    {
        if (sequence < 0)
            sequence = nextSequence++;
        Advance(10);
        bool started = session->rxTimeBase.seconds != 0 || session->rxTimeBase.microseconds != 0;
        timestamp =
            started ? static_cast<uint32_t>(IaxElapsedMs(session->rxTimeBase, IaxClock())) : 0;
        return Inject(Frame(kPeerCall, own, timestamp, static_cast<uint16_t>(sequence), frameType,
                            subclass, payload));
    }

    IaxSession* session = nullptr;
    uint16_t own = 0;
    uint32_t timestamp = 0;
    uint16_t nextSequence = 0;
};

TEST_F(FrameHandlingTest, AckEchoesTheFramesHeader)
{
    // After a first frame has set the time base, one arriving 1234 ms early
    // is parked; the ACK goes out at once.
    EXPECT_NE(Inject(Frame(kPeerCall, own, 0, 6, FT_CONTROL, CTRL_RINGING)), nullptr);
    DrainPeer();
    EXPECT_EQ(Inject(Frame(kPeerCall, own, 1234, 7, FT_CONTROL, CTRL_RINGING)), nullptr);
    Bytes ack = Receive();
    ASSERT_EQ(ack.size(), 12u);
    IaxFullHeader header = Header(ack);
    EXPECT_EQ(header.sourceCall, own);
    EXPECT_EQ(header.destCall, 5);
    EXPECT_EQ(header.timestamp, 1234u);
    EXPECT_EQ(header.sequence, 7);
    EXPECT_EQ(header.frameType, FT_IAX);
    EXPECT_EQ(header.subclass, IAX_ACK);
    EXPECT_EQ(session->peerCallNumber, 5);
    EXPECT_EQ(session->lastRxTimestamp, 1234u);
    Advance(1234);
    EventPtr event(IaxNextEvent(0));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->type, EvRinging);
}

TEST_F(FrameHandlingTest, WhichFramesAreAcknowledged)
{
    struct Case {
        uint8_t frameType;
        uint8_t subclass;
        bool acknowledged;
    } cases[] = {
        {FT_IAX, IAX_ACK, false},    {FT_IAX, IAX_INVAL, false}, {FT_IAX, IAX_TXCNT, false},
        {FT_IAX, IAX_TXACC, false},  {FT_IAX, IAX_PONG, true},   {3, 0, true},
        {FT_IAX, 17, true},          {FT_CONTROL, 99, true},     {200, 1, true},
        {FT_IAX, IAX_REJECT, false},  // last: ends the session
    };
    for (const Case& c : cases) {
        EventPtr event = Arrive(c.frameType, c.subclass);
        if (c.subclass != IAX_INVAL && c.subclass != IAX_REJECT) {
            EXPECT_EQ(event, nullptr) << int(c.frameType) << "/" << int(c.subclass);
        }
        EXPECT_EQ(!PeerHasNothing(), c.acknowledged) << int(c.frameType) << "/" << int(c.subclass);
        DrainPeer();
        if (c.subclass == IAX_INVAL) {  // a hang-up without reason; the call is gone
            ASSERT_NE(event, nullptr);
            EXPECT_EQ(event->type, EvHangup);
            EXPECT_EQ(event->reason.text, nullptr);
            session = CallPeer();
            own = static_cast<uint16_t>(session->callNumber);
        }
    }
}

TEST_F(FrameHandlingTest, NewCallFieldsFromTheTextPayload)
{
    // An incoming call: a frame naming no call number of ours.
    EventPtr event(
        Inject(Frame(0x0066, 0xFFFF, 0, 0, FT_IAX, IAX_NEW, "callerid=A;exten=100;formats=2;")));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->type, EvNewCall);
    EXPECT_NE(event->session, session);
    EXPECT_STREQ(event->call.callerId, "A");
    EXPECT_STREQ(event->call.exten, "100");
    EXPECT_EQ(event->call.formats, 2);
    EXPECT_EQ(event->call.version, 0);
    EXPECT_EQ(event->call.dnid, nullptr);
    EXPECT_EQ(event->call.context, nullptr);
    EXPECT_EQ(event->call.username, nullptr);
    EXPECT_EQ(event->call.language, nullptr);
    EXPECT_EQ(event->call.secret, nullptr);
    EXPECT_STREQ(event->call.host, "127.0.0.1");
}

TEST_F(FrameHandlingTest, HangupAndRejectReasons)
{
    EventPtr hangup = Arrive(FT_IAX, IAX_HANGUP);
    ASSERT_NE(hangup, nullptr);
    EXPECT_EQ(hangup->type, EvHangup);
    EXPECT_EQ(hangup->reason.text, nullptr);
    EXPECT_FALSE(IaxSessionIsLive(session));

    session = CallPeer();
    own = static_cast<uint16_t>(session->callNumber);
    EventPtr reject = Arrive(FT_IAX, IAX_REJECT);
    ASSERT_NE(reject, nullptr);
    EXPECT_EQ(reject->type, EvReject);
    ASSERT_NE(reject->reason.text, nullptr);
    EXPECT_STREQ(reject->reason.text, "");

    session = CallPeer();
    own = static_cast<uint16_t>(session->callNumber);
    EventPtr reasoned = Arrive(FT_IAX, IAX_HANGUP, "Normal clearing");
    ASSERT_NE(reasoned, nullptr);
    EXPECT_STREQ(reasoned->reason.text, "Normal clearing");
}

TEST_F(FrameHandlingTest, AuthRequestForOurUserIsAnsweredAtOnce)
{
    session = IaxNewSession();
    std::string dial = "alice:pw@" + PeerDial();
    ASSERT_EQ(IaxPlaceCall(session, nullptr, dial.c_str(), nullptr), 0);
    Receive();
    own = static_cast<uint16_t>(session->callNumber);
    EXPECT_EQ(Arrive(FT_IAX, IAX_AUTHREQ, "methods=md5;challenge=98765;username=alice;"), nullptr);
    EXPECT_EQ(Header(Receive()).subclass, IAX_ACK);
    Bytes reply = Receive();
    EXPECT_EQ(Header(reply).subclass, IAX_AUTHREP);
    char digest[33];
    IaxMd5Hex("98765", "pw", digest);
    EXPECT_EQ(Payload(reply), std::string("md5secret=") + digest + ";");

    EventPtr other = Arrive(FT_IAX, IAX_AUTHREQ, "methods=md5;challenge=1;username=bob;");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->type, EvAuthRequest);
    EXPECT_EQ(other->authRequest.methods, IaxAuthMd5);
    EXPECT_STREQ(other->authRequest.username, "bob");
    EXPECT_STREQ(other->authRequest.challenge, "1");

    EventPtr both = Arrive(FT_IAX, IAX_AUTHREQ, "methods=plaintext,md5;username=bob;");
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->authRequest.methods, IaxAuthMd5 | IaxAuthPlaintext);
}

TEST_F(FrameHandlingTest, DialPlanReplyStatusTable)
{
    struct Case {
        const char* payload;
        int exists, canExist, nonExistent, ignorePattern, expiry;
        const char* complaint;
    } cases[] = {
        {"number=5;status=exists;", 1, 0, 0, 0, 0, ""},
        {"status=exists;expirey=-5;", 1, 0, 0, 0, 0, ""},
        {"status=canexist;ignorepat=yes;expirey=30;", 0, 1, 0, 1, 30, ""},
        {"status=nonexistant;ignorepat=no;", 0, 0, 1, 0, 0, ""},
        {"status=maybe;", 0, 0, 0, 0, 0, "Unknown status 'maybe'\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EventPtr event = Arrive(FT_IAX, IAX_DPREP, c.payload);
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(event, nullptr) << c.payload;
        EXPECT_EQ(event->type, EvDialPlanReply);
        EXPECT_EQ(event->dpReply.exists, c.exists) << c.payload;
        EXPECT_EQ(event->dpReply.canExist, c.canExist) << c.payload;
        EXPECT_EQ(event->dpReply.nonExistent, c.nonExistent) << c.payload;
        EXPECT_EQ(event->dpReply.ignorePattern, c.ignorePattern) << c.payload;
        EXPECT_EQ(event->dpReply.expiry, c.expiry) << c.payload;
        EXPECT_EQ(out, std::string("Got dialplan reply: ") + c.payload + "\n");
        EXPECT_EQ(err, c.complaint);
    }
}

// An ACK releases the frame it names in any order; ackSeq still advances
// only over the ACK it expects next.
TEST_F(FrameHandlingTest, AckReleasesItsFrameInAnyOrderButAdvancesOnlyInOrder)
{
    // outSeq is 1 after the NEW; send two more sequenced frames.
    IaxSendRinging(session);
    IaxAnswerCall(session);
    DrainPeer();
    auto finished = [] {
        int count = 0;
        for (IaxTimerEntry* entry = IaxTimerList; entry; entry = entry->next)
            count += entry->frame && entry->frame->retriesLeft == -1;
        return count;
    };
    EXPECT_EQ(Arrive(FT_IAX, IAX_ACK, "", 2), nullptr);  // two ahead: released, no advance
    EXPECT_EQ(session->ackSeq, 0);
    EXPECT_EQ(finished(), 1);
    EXPECT_EQ(Arrive(FT_IAX, IAX_ACK, "", 0), nullptr);
    EXPECT_EQ(session->ackSeq, 1);
    EXPECT_EQ(Arrive(FT_IAX, IAX_ACK, "", 0), nullptr);  // again: nothing changes
    EXPECT_EQ(session->ackSeq, 1);
    EXPECT_EQ(finished(), 2);
    EXPECT_TRUE(PeerHasNothing());  // ACKs are not acknowledged
}

// A frame whose number was handled lately is acknowledged again, unless of
// a kind never acknowledged, and not handed out again; frames arrive
// reordered, so a number below the newest can still be new.
TEST_F(FrameHandlingTest, DuplicatesAreAcknowledgedAgainButHandledOnce)
{
    struct Row {
        uint8_t frameType;
        uint8_t subclass;
        int sequence;
        bool handed;
        bool acknowledged;
    } rows[] = {
        {FT_CONTROL, CTRL_ANSWER, 0, true, true},
        {FT_CONTROL, CTRL_ANSWER, 0, false, true},  // resent: its ACK was lost
        {FT_DTMF, '3', 2, true, true},
        {FT_DTMF, '1', 1, true, true},  // overtaken, still new
        {FT_DTMF, '1', 1, false, true},
        {FT_IAX, IAX_REJECT, 2, false, false},  // never acknowledged, not handed out
        {FT_DTMF, '9', 70, true, true},
        {FT_DTMF, '4', 4, true, true},  // beyond the window: new
    };
    for (const Row& row : rows) {
        EventPtr event = Arrive(row.frameType, row.subclass, "", row.sequence);
        EXPECT_EQ(event != nullptr, row.handed) << "sequence " << row.sequence;
        EXPECT_EQ(!PeerHasNothing(), row.acknowledged) << "sequence " << row.sequence;
        DrainPeer();
    }
    EXPECT_TRUE(IaxSessionIsLive(session));  // the duplicate REJECT ended nothing
}

TEST_F(FrameHandlingTest, FramesCarryingZeroByDesignAreNeverDuplicates)
{
    EXPECT_EQ(Arrive(FT_IAX, IAX_PONG, "", 0), nullptr);
    DrainPeer();
    std::string request = "remip=127.0.0.1;remport=" + std::to_string(PeerPort()) + ";remcall=44;";
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXREQ, request, 1), nullptr);
    DrainPeer();
    for (int i = 0; i < 2; ++i) {  // a resent probe is answered again
        EXPECT_EQ(Arrive(FT_IAX, IAX_TXCNT, "", 0), nullptr);
        EXPECT_EQ(Header(Receive()).subclass, IAX_TXACC) << "probe " << i;
    }
    EXPECT_EQ(Arrive(FT_IAX, IAX_PONG, "", 0), nullptr);
    EXPECT_EQ(Header(Receive()).subclass, IAX_ACK);

    // The new peer numbers its frames afresh after the release.
    testing::internal::CaptureStdout();
    EXPECT_NE(Arrive(FT_IAX, IAX_TXREL, "peercallno=77;", 2), nullptr);
    testing::internal::GetCapturedStdout();
    DrainPeer();
    EventPtr first = Inject(Frame(77, own, 0, 1, FT_DTMF, '5'));
    EXPECT_NE(first, nullptr);
}

TEST_F(FrameHandlingTest, PingAndLagRequestAreAnsweredInsideTheLibrary)
{
    EXPECT_EQ(Arrive(FT_IAX, IAX_PING, "", 3), nullptr);
    EXPECT_EQ(Header(Receive()).subclass, IAX_ACK);
    Bytes pong = Receive();
    EXPECT_EQ(Header(pong).subclass, IAX_PONG);
    EXPECT_EQ(Header(pong).timestamp, timestamp);
    EXPECT_EQ(Header(pong).sequence, 0);

    EXPECT_EQ(Arrive(FT_IAX, IAX_LAGRQ, "", 4), nullptr);
    Receive();
    Bytes lag = Receive();
    EXPECT_EQ(Header(lag).subclass, IAX_LAGRP);
    EXPECT_EQ(Header(lag).timestamp, timestamp);
    EXPECT_EQ(Header(lag).sequence, 1);
}

TEST_F(FrameHandlingTest, LagReplyMeasuresAgainstTheSessionClock)
{
    Advance(100);
    EventPtr event(Inject(Frame(kPeerCall, own, 1, 0, FT_IAX, IAX_LAGRP)));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->type, EvLagReply);
    EXPECT_EQ(event->lag.lag, 99);  // session time stamp 100 minus 1
}

// Only a session that sent a REGREQ answers a registration challenge.
TEST_F(FrameHandlingTest, RegistrationChallengeOnACallIsAcknowledgedAndDropped)
{
    EXPECT_EQ(Arrive(FT_IAX, IAX_REGAUTH, "methods=md5;challenge=123456789;"), nullptr);
    EXPECT_EQ(Header(Receive()).subclass, IAX_ACK);
    EXPECT_TRUE(PeerHasNothing());
    EXPECT_STREQ(session->challenge, "");
    EXPECT_EQ(session->outSeq, 1);  // only the NEW went out
}

TEST_F(FrameHandlingTest, RegistrationChallengeIsAnsweredWithMd5)
{
    IaxSession* registration = session = IaxNewSession();
    ASSERT_EQ(IaxRegister(registration, "127.0.0.1", PeerPort(), "me", "pw", 60), 0);
    Receive();
    own = static_cast<uint16_t>(registration->callNumber);
    EXPECT_EQ(Arrive(FT_IAX, IAX_REGAUTH, "methods=md5;challenge=0123456789ABCDEF;"), nullptr);
    EXPECT_STREQ(registration->challenge, "0123456789A");
    Receive();  // ACK
    char digest[33];
    IaxMd5Hex("0123456789A", "pw", digest);
    EXPECT_EQ(Payload(Receive()), std::string("peer=me;refresh=60;md5secret=") + digest + ";");

    EXPECT_EQ(Arrive(FT_IAX, IAX_REGAUTH, "challenge=1;"), nullptr);  // no methods: dropped
    Receive();
    EXPECT_TRUE(PeerHasNothing());

    EventPtr reply = Arrive(FT_IAX, IAX_REGACK, "yourip=1.2.3.4;yourport=4569;refresh=60;");
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->regReply.result, 1);
    EXPECT_STREQ(reply->regReply.yourIp, "1.2.3.4");
    EXPECT_EQ(reply->regReply.yourPort, 4569);
    EXPECT_EQ(reply->regReply.callerId, nullptr);
    EXPECT_FALSE(IaxSessionIsLive(registration));
}

TEST_F(FrameHandlingTest, TransferRequestNeedsAllThreeKeys)
{
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXREQ, "remip=300.1.2.3;remport=4569;"), nullptr);
    EXPECT_EQ(ntohl(session->transferAddress.sin_addr.s_addr), 0x2C010203u);
    EXPECT_EQ(session->transferState, 0);
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXREQ, "remip=1.2.3;remport=1;remcall=2;"), nullptr);
    EXPECT_EQ(session->transferState, 0);
    DrainPeer();
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXCNT), nullptr);  // no transfer: dropped, not acknowledged
    EXPECT_TRUE(PeerHasNothing());
}

TEST_F(FrameHandlingTest, TransferReleaseRestartsTimingAndSequencing)
{
    std::string request = "remip=127.0.0.1;remport=" + std::to_string(PeerPort()) + ";remcall=44;";
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXREQ, request), nullptr);
    EXPECT_EQ(session->transferState, 1);
    EXPECT_EQ(Arrive(FT_IAX, IAX_TXACC), nullptr);  // matched through the peer address here
    EXPECT_EQ(session->transferState, 2);
    DrainPeer();

    Arrive(FT_VOICE, 2, "v");
    testing::internal::CaptureStdout();
    EventPtr released = Arrive(FT_IAX, IAX_TXREL, "peercallno=77;");
    std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_NE(released, nullptr);
    EXPECT_EQ(printed, "Release: text is peercallno=77;\n");
    EXPECT_EQ(released->type, EvTransferred);
    EXPECT_STREQ(released->transfer.address, "127.0.0.1");
    EXPECT_EQ(released->transfer.port, PeerPort());
    EXPECT_EQ(session->peerCallNumber, 77);
    EXPECT_EQ(session->transferState, 0);
    EXPECT_EQ(session->outSeq, 0);
    EXPECT_EQ(session->lastRxVoiceFormat, 0);
    EXPECT_EQ(session->jitterBuffer, 0);
    EXPECT_EQ(session->rxTimeBaseSet, 0);  // the next timed event sets it afresh

    Bytes mini = {0, 77, 0, 5, 'x'};
    EXPECT_EQ(Inject(mini), nullptr);  // no full voice frame since the transfer
    DrainPeer();
    ASSERT_EQ(IaxSendRinging(session), 0);
    IaxFullHeader header = Header(Receive());
    EXPECT_EQ(header.sequence, 0);
    EXPECT_EQ(header.destCall, 77);
    EXPECT_EQ(header.timestamp, 1u);  // fresh time base
}

TEST_F(FrameHandlingTest, MediaTextAndHtmlFrames)
{
    EventPtr voice = Arrive(FT_VOICE, 0x81, "abc");
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->media.format, 2);
    EXPECT_EQ(voice->media.length, 3);
    EXPECT_EQ(session->lastRxVoiceFormat, 2);
    EventPtr empty = Arrive(FT_VOICE, 2);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->media.data, nullptr);
    EXPECT_EQ(empty->media.length, 0);
    EventPtr image = Arrive(FT_IMAGE, 4, "img");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->type, EvImage);
    EXPECT_EQ(session->lastRxVoiceFormat, 2);
    EventPtr text = Arrive(FT_TEXT, 0, "hi there");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->text.text, "hi there");
    EventPtr link = Arrive(FT_HTML, HTML_LINK_URL, "http://x/");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->url.link, 1);
    EXPECT_STREQ(link->url.url, "http://x/");
    EventPtr bare = Arrive(FT_HTML, HTML_URL);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->url.url, nullptr);
    EXPECT_EQ(Arrive(FT_HTML, 0x87), nullptr);  // not expanded: unknown
    EventPtr quelch = Arrive(FT_IAX, IAX_QUELCH);
    ASSERT_NE(quelch, nullptr);
    EXPECT_EQ(quelch->type, EvQuelch);
    EXPECT_EQ(session->quelched, 1);
    EventPtr busy = Arrive(FT_CONTROL, CTRL_CONGESTION);
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(busy->type, EvBusy);
}

}  // namespace
