#include <gtest/gtest.h>

#include <cstring>

#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::EventPtr;
using iaxunit::Frame;
using iaxunit::IaxUnitTest;

class EventTest : public IaxUnitTest {};

// Under the sanitizer build a missed release shows as a leak.
TEST_F(EventTest, FreeReleasesEveryTextOfTheType)
{
    IaxEvent* call = IaxNewEvent();
    call->type = EvNewCall;
    for (char** text :
         {&call->call.callerId, &call->call.dnid, &call->call.context, &call->call.exten,
          &call->call.username, &call->call.host, &call->call.secret, &call->call.language})
        *text = strdup("x");
    IaxFreeEvent(call);

    IaxEvent* text = IaxNewEvent();
    text->type = EvText;
    memset(text->text.text, 'a', 100);  // inline: nothing behind it to release
    IaxFreeEvent(text);

    IaxEvent* unknown = IaxNewEvent();
    unknown->type = 4711;
    IaxFreeEvent(unknown);
    IaxFreeEvent(nullptr);
}

TEST_F(EventTest, NextEventWithNothingToDoReturnsNullAtOnce)
{
    EXPECT_EQ(IaxNextEvent(0), nullptr);
    EXPECT_EQ(IaxNextEvent(1), nullptr);  // no socket: nothing to wait for
    OpenSockets();
    EXPECT_EQ(IaxNextEvent(0), nullptr);
}

TEST_F(EventTest, FilterDropsEventsOfGoneSessionsAndEndsHangups)
{
    IaxSession* session = IaxNewSession();
    IaxSession* gone = IaxNewSession();
    IaxDestroySession(gone);
    IaxEvent* orphan = IaxNewEvent();
    orphan->type = EvDtmf;
    orphan->session = gone;
    EXPECT_EQ(IaxFilterEvent(orphan), nullptr);

    IaxEvent* hangup = IaxNewEvent();
    hangup->type = EvHangup;
    hangup->session = session;
    EventPtr out(IaxFilterEvent(hangup));
    EXPECT_EQ(out.get(), hangup);
    EXPECT_FALSE(IaxSessionIsLive(session));
}

TEST_F(EventTest, HungUpSessionNoLongerMatchesLaterDatagrams)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    EventPtr hangup(Inject(Frame(0x0042, own, 0, 0, FT_IAX, IAX_HANGUP, "bye")));
    ASSERT_NE(hangup, nullptr);
    EXPECT_EQ(hangup->session, session);  // an identity only, from now on
    EXPECT_EQ(IaxSessionCount(), 0);
    EXPECT_EQ(Inject(Frame(0x0042, own, 0, 1, FT_DTMF, '1')), nullptr);
    EXPECT_EQ(IaxSessionCount(), 0);
}

TEST_F(EventTest, ParkedEventsGoWithTheirSession)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    EXPECT_NE(Inject(Frame(0x0042, own, 0, 0, FT_DTMF, '0')), nullptr);    // sets the time base
    EXPECT_EQ(Inject(Frame(0x0042, own, 500, 1, FT_DTMF, '1')), nullptr);  // parked 500 ms
    int before = IaxTimerCount();
    IaxDestroySession(session);
    EXPECT_EQ(IaxTimerCount(), before - 1);
    Advance(500);
    EXPECT_EQ(IaxNextEvent(0), nullptr);
}

}  // namespace
