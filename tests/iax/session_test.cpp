#include <gtest/gtest.h>

#include <random>
#include <vector>

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
    EXPECT_EQ(IaxSessionList, wrapped);  // newest first
}

TEST_F(SessionTest, NewSessionsSkipCallNumbersStillInUse)
{
    IaxNextCallNumber = 5;
    IaxSession* five = IaxNewSession();
    EXPECT_EQ(IaxNewSession()->callNumber, 6);
    IaxNextCallNumber = 5;
    EXPECT_EQ(IaxNewSession()->callNumber, 7);
    EXPECT_EQ(IaxNextCallNumber, 8);
    IaxDestroySession(five);
    IaxNextCallNumber = 5;
    EXPECT_EQ(IaxNewSession()->callNumber, 5);

    IaxNextCallNumber = 32767;
    EXPECT_EQ(IaxNewSession()->callNumber, 32767);
    IaxNextCallNumber = 32767;
    EXPECT_EQ(IaxNewSession()->callNumber, 1);  // 32767 is taken: wraps past it
}

TEST_F(SessionTest, TimestampsStartAt1AndStrictlyIncrease)
{
    IaxSession* session = IaxNewSession();
    EXPECT_EQ(IaxTimestamp(session), 1u);  // same millisecond as the time base
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
    IaxDestroySession(doomed);  // not in the list: left alone
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
    EXPECT_FALSE(IaxSessionMatches(&server, 77, own + 1, session));  // names another call
    EXPECT_TRUE(IaxSessionMatches(&server, 77, own, session));
    EXPECT_EQ(session->peerCallNumber, 77);
    EXPECT_TRUE(IaxSessionMatches(&server, 77, 0, session));  // a mini frame now matches
    EXPECT_FALSE(IaxSessionMatches(&server, 78, own, session));

    session->transferAddress = transfer;
    EXPECT_FALSE(IaxSessionMatches(&transfer, 9, own, session));  // no transfer under way
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

// The rules a walk over every session applies, newest first; the library
// finds the same session through its maps.
bool MatchesByWalk(const sockaddr_in& from, int16_t source, int16_t dest, const IaxSession* s)
{
    auto same = [&](const sockaddr_in& a) {
        return a.sin_addr.s_addr == from.sin_addr.s_addr && a.sin_port == from.sin_port;
    };
    int16_t peerCall = static_cast<int16_t>(s->peerCallNumber);
    if (same(s->peerAddress) && (source == peerCall || (dest == s->callNumber && peerCall == -1)))
        return true;
    return same(s->transferAddress) && s->transferState != 0 && dest == s->callNumber;
}

TEST_F(SessionTest, LookupFindsTheNewestMatchingSessionAsAWalkWould)
{
    unsigned seed = static_cast<unsigned>(time(nullptr));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    sockaddr_in addresses[3] = {};
    for (int i = 0; i < 3; ++i) {
        addresses[i].sin_family = AF_INET;
        addresses[i].sin_addr.s_addr = htonl(0x7F000001);
        addresses[i].sin_port = htons(static_cast<uint16_t>(40000 + i));
    }
    std::vector<IaxSession*> sessions;
    auto add = [&] {
        IaxSession* s = IaxNewSession();
        s->peerAddress = addresses[random() % 3];
        s->peerCallNumber = random() % 3 ? static_cast<int>(random() % 4) + 1 : -1;
        if (random() % 3 == 0) {
            s->transferAddress = addresses[random() % 3];
            s->transferState = 1 + static_cast<int>(random() % 2);
        }
        IaxSessionUpdated(s);
        sessions.push_back(s);
    };
    IaxNextCallNumber = 1;
    for (int i = 0; i < 40; ++i)
        add();
    for (int i = 0; i < 5000; ++i) {
        const sockaddr_in& from = addresses[random() % 3];
        int16_t source = static_cast<int16_t>(1 + random() % 4);
        int16_t dest =
            static_cast<int16_t>(random() % 5 == 0 ? 0 : 1 + random() % IaxNextCallNumber);
        IaxSession* expected = nullptr;
        for (IaxSession* s = IaxSessionList; s && !expected; s = s->next)
            if (MatchesByWalk(from, source, dest, s))
                expected = s;
        bool learns = expected && expected->peerAddress.sin_port == from.sin_port &&
                      static_cast<int16_t>(expected->peerCallNumber) == -1 &&
                      dest == expected->callNumber;
        ASSERT_EQ(IaxFindSession(&from, source, dest, false), expected) << i;
        if (learns) {
            EXPECT_EQ(expected->peerCallNumber, source);  // and found by it from now on
        }
        if (random() % 50 == 0) {  // sessions come and go
            size_t gone = random() % sessions.size();
            IaxDestroySession(sessions[gone]);
            sessions.erase(sessions.begin() + static_cast<std::ptrdiff_t>(gone));
            add();
        }
    }
}

}  // namespace
