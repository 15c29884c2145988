#include <gtest/gtest.h>

#include "iax/testing.h"
#include "unit_fixture.h"

namespace {

using iaxunit::IaxUnitTest;

class SessionTest : public IaxUnitTest {};

TEST_F(SessionTest, CallNumbersCountUpAndWrapTo1)
{
    IaxNextCallNumber = 32766;
    EXPECT_EQ(IaxNewSession()->callNumber, 32766);
    EXPECT_EQ(IaxNewSession()->callNumber, 32767);
    IaxSession* wrapped = IaxNewSession();
    EXPECT_EQ(wrapped->callNumber, 1);
    EXPECT_EQ(wrapped->peerCallNumber, -1);
    EXPECT_EQ(wrapped->lastRxVoiceFormat, -1);
    EXPECT_EQ(wrapped->retransmitBase, 30);
    EXPECT_EQ(IaxSessionList, wrapped);   // newest first
}

TEST_F(SessionTest, TimestampsStartAt1AndStrictlyIncrease)
{
    IaxSession* session = IaxNewSession();
    EXPECT_EQ(IaxTimestamp(session), 1u);   // same millisecond as the time base
    EXPECT_EQ(IaxTimestamp(session), 2u);
    Advance(500);
    EXPECT_EQ(IaxTimestamp(session), 500u);
    EXPECT_EQ(IaxTimestamp(session), 501u);
}

TEST_F(SessionTest, ClockAddsTheOffsetAndSplitsSeconds)
{
    fakeMs = 1234;
    IaxClockOffset = 1000;
    IaxTime now = IaxClock();
    EXPECT_EQ(now.seconds, 2);
    EXPECT_EQ(now.microseconds, 234000);
}

TEST_F(SessionTest, DestroyRemovesEventsKeepsFramesFinishedAndOthersInOrder)
{
    IaxSession* doomed = IaxNewSession();
    IaxSession* other = IaxNewSession();
    auto frame = [](IaxSession* s) {
        IaxFrame* f = static_cast<IaxFrame*>(calloc(1, sizeof(IaxFrame)));
        f->session = s;
        f->retriesLeft = 5;
        return f;
    };
    auto event = [](IaxSession* s) {
        IaxEvent* e = IaxNewEvent();
        e->type = EvDtmf;
        e->session = s;
        return e;
    };
    IaxFrame* doomedFrame = frame(doomed);
    IaxEvent* otherEvent = event(other);
    IaxFrame* otherFrame = frame(other);
    ASSERT_EQ(IaxSchedule(nullptr, doomedFrame, 10), 0);
    ASSERT_EQ(IaxSchedule(event(doomed), nullptr, 20), 0);
    ASSERT_EQ(IaxSchedule(otherEvent, nullptr, 30), 0);
    ASSERT_EQ(IaxSchedule(nullptr, otherFrame, 40), 0);

    IaxDestroySession(doomed);
    EXPECT_FALSE(IaxSessionIsLive(doomed));
    EXPECT_TRUE(IaxSessionIsLive(other));
    ASSERT_EQ(IaxTimerCount(), 3);
    EXPECT_EQ(IaxTimerList->frame, doomedFrame);
    EXPECT_EQ(doomedFrame->retriesLeft, -1);
    EXPECT_EQ(IaxTimerList->next->event, otherEvent);
    EXPECT_EQ(IaxTimerList->next->next->frame, otherFrame);
    EXPECT_EQ(otherFrame->retriesLeft, 5);
    IaxDestroySession(doomed);   // not in the list: left alone
    EXPECT_EQ(IaxSessionCount(), 1);
}

TEST_F(SessionTest, MatchingLearnsThePeerCallNumberAndHonoursTransfers)
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(0x0A000001);
    server.sin_port = htons(4569);
    sockaddr_in transfer = server;
    transfer.sin_addr.s_addr = htonl(0x0A000002);

    IaxSession* session = IaxNewSession();
    session->peerAddress = server;
    int16_t own = static_cast<int16_t>(session->callNumber);
    EXPECT_FALSE(IaxSessionMatches(&server, 77, own + 1, session));   // names another call
    EXPECT_TRUE(IaxSessionMatches(&server, 77, own, session));
    EXPECT_EQ(session->peerCallNumber, 77);
    EXPECT_TRUE(IaxSessionMatches(&server, 77, 0, session));   // a mini frame now matches
    EXPECT_FALSE(IaxSessionMatches(&server, 78, own, session));

    session->transferAddress = transfer;
    EXPECT_FALSE(IaxSessionMatches(&transfer, 9, own, session));   // no transfer under way
    session->transferState = 1;
    EXPECT_TRUE(IaxSessionMatches(&transfer, 9, own, session));
    EXPECT_EQ(session->peerCallNumber, 77);
    EXPECT_FALSE(IaxSessionMatches(&transfer, 9, 0, session));
}

TEST_F(SessionTest, UnknownSendersCreateSessionsOnlyWithTheUnknownMarker)
{
    sockaddr_in caller{};
    caller.sin_family = AF_INET;
    caller.sin_addr.s_addr = htonl(0x7F000001);
    caller.sin_port = htons(40000);
    EXPECT_EQ(IaxFindSession(&caller, 12, 33, true), nullptr);
    EXPECT_EQ(IaxFindSession(&caller, 12, -1, false), nullptr);
    IaxSession* created = IaxFindSession(&caller, 12, -1, true);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->peerCallNumber, 12);
    EXPECT_EQ(created->peerAddress.sin_port, caller.sin_port);
    EXPECT_EQ(IaxFindSession(&caller, 12, 0, false), created);
}

}  // namespace
