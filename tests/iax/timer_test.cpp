#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "unit_fixture.h"

namespace {

using iaxunit::Bytes;
using iaxunit::EventPtr;
using iaxunit::Frame;
using iaxunit::Header;
using iaxunit::IaxUnitTest;

class TimerTest : public IaxUnitTest {
protected:
    struct Run {
        std::vector<uint32_t> sendTimesMs;  // relative to the start
        std::vector<int> eventTypes;
        uint32_t lastCheckMs = 0;
    };

    // Lets the controlled clock jump from due time to due time, servicing
    // the timer list, until it is empty or untilMs has passed.
    Run RunTimers(uint32_t untilMs)
    {
        Run run;
        uint32_t start = fakeMs;
        int due;
        while ((due = IaxNextDueMs()) >= 0 && fakeMs - start + due <= untilMs) {
            Advance(static_cast<uint32_t>(due));
            run.lastCheckMs = fakeMs - start;
            EventPtr event(IaxNextEvent(0));
            if (event)
                run.eventTypes.push_back(event->type);
            while (!PeerHasNothing()) {
                Bytes bytes = Receive();
                run.sendTimesMs.push_back(fakeMs - start);
                lastSent = bytes;
            }
        }
        return run;
    }

    Bytes lastSent;
};

TEST_F(TimerTest, EqualDueTimesComeOutInSchedulingOrder)
{
    IaxEvent* first = IaxNewEvent();
    IaxEvent* second = IaxNewEvent();
    IaxEvent* earlier = IaxNewEvent();
    ASSERT_EQ(IaxSchedule(first, nullptr, 100), 0);
    ASSERT_EQ(IaxSchedule(second, nullptr, 100), 0);
    ASSERT_EQ(IaxSchedule(earlier, nullptr, 99), 0);
    EXPECT_EQ(IaxSchedule(nullptr, nullptr, 5), -1);
    IaxTime now = IaxClock();
    EXPECT_EQ(IaxTakeDue(now), nullptr);
    now.microseconds += 100000;
    IaxTimerEntry* taken[3];
    for (IaxTimerEntry*& entry : taken) {
        entry = IaxTakeDue(now);
        ASSERT_NE(entry, nullptr);
    }
    EXPECT_EQ(IaxTakeDue(now), nullptr);
    EXPECT_EQ(taken[0]->event, earlier);
    EXPECT_EQ(taken[1]->event, first);
    EXPECT_EQ(taken[2]->event, second);
    for (IaxTimerEntry* entry : taken) {
        IaxFreeEvent(entry->event);
        free(entry);
    }
}

TEST_F(TimerTest, EarlyServingTakesWhatIsDueWithinTheAllowanceOnly)
{
    IaxSetEarlyServeMs(2);
    ASSERT_EQ(IaxSchedule(IaxNewEvent(), nullptr, 2), 0);
    ASSERT_EQ(IaxSchedule(IaxNewEvent(), nullptr, 3), 0);
    IaxTimerEntry* early = IaxTakeDue(IaxClock());
    ASSERT_NE(early, nullptr);
    IaxFreeEvent(early->event);
    free(early);
    EXPECT_EQ(IaxTakeDue(IaxClock()), nullptr);
    EXPECT_EQ(IaxNextDueMs(), 3);  // the real due time, not the early one
    IaxSetEarlyServeMs(1000);      // capped at IaxMaxEarlyServeMs
    IaxTimerEntry* capped = IaxTakeDue(IaxClock());
    ASSERT_NE(capped, nullptr);
    IaxFreeEvent(capped->event);
    free(capped);
}

TEST_F(TimerTest, NextDueMsCountsDownToTheEarliestEntry)
{
    EXPECT_EQ(IaxNextDueMs(), -1);
    ASSERT_EQ(IaxSchedule(IaxNewEvent(), nullptr, 1500), 0);
    ASSERT_EQ(IaxSchedule(IaxNewEvent(), nullptr, 60), 0);
    EXPECT_EQ(IaxNextDueMs(), 60);
    Advance(59);
    EXPECT_EQ(IaxNextDueMs(), 1);
    Advance(5);
    EXPECT_EQ(IaxNextDueMs(), 0);
}

TEST_F(TimerTest, UnacknowledgedFrameIsResentTenTimesThenTimesOut)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    testing::internal::CaptureStdout();
    Run run = RunTimers(200000);
    std::string printed = testing::internal::GetCapturedStdout();

    std::vector<uint32_t> expected = {60,    300,   1260,  5100,  15100,
                                      25100, 35100, 45100, 55100, 65100};
    EXPECT_EQ(run.sendTimesMs, expected);
    EXPECT_EQ(run.eventTypes, std::vector<int>{EvTimeout});
    EXPECT_EQ(run.lastCheckMs, 75100u);
    std::string lines;
    for (int left = 9; left >= 0; --left)
        lines += "Scheduling retransmission " + std::to_string(left) + "\n";
    EXPECT_EQ(printed, lines);
    EXPECT_EQ(Header(lastSent).subclass, IAX_NEW);  // resent unchanged
    EXPECT_TRUE(IaxSessionIsLive(session));         // the user decides what a timeout means
    EXPECT_EQ(IaxTimerCount(), 0);
}

TEST_F(TimerTest, MaxRetriesBoundsTheRetransmissions)
{
    OpenSockets();
    IaxMaxRetries = 2;
    CallPeer();
    testing::internal::CaptureStdout();
    Run run = RunTimers(200000);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(run.sendTimesMs, (std::vector<uint32_t>{60, 300}));
    EXPECT_EQ(run.eventTypes, std::vector<int>{EvTimeout});
    EXPECT_EQ(run.lastCheckMs, 1260u);
}

TEST_F(TimerTest, DiagnosticsGoToTheChosenStream)
{
    OpenSockets();
    IaxMaxRetries = 1;
    FILE* chosen = std::tmpfile();
    ASSERT_NE(chosen, nullptr);
    IaxSetDiagnosticStream(chosen);
    CallPeer();
    testing::internal::CaptureStdout();
    RunTimers(200000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::rewind(chosen);
    char line[64] = {};
    EXPECT_NE(std::fgets(line, sizeof line, chosen), nullptr);
    EXPECT_STREQ(line, "Scheduling retransmission 0\n");
    IaxResetForTesting();
    EXPECT_EQ(IaxDiagnosticStream(), stdout);
    std::fclose(chosen);
}

TEST_F(TimerTest, FrameAcknowledgedBeforeItsCheckIsFreedUnsent)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    EXPECT_EQ(Inject(Frame(9, static_cast<uint16_t>(session->callNumber), 1, 0, FT_IAX, IAX_ACK)),
              nullptr);
    EXPECT_EQ(session->ackSeq, 1);
    Run run = RunTimers(200000);
    EXPECT_TRUE(run.sendTimesMs.empty());
    EXPECT_TRUE(run.eventTypes.empty());
    EXPECT_EQ(run.lastCheckMs, 60u);
    EXPECT_EQ(IaxTimerCount(), 0);
}

TEST_F(TimerTest, UnansweredTransferProbeSendsTxrejAndNoEvent)
{
    OpenSockets();
    IaxSession* session = CallPeer();
    uint16_t own = static_cast<uint16_t>(session->callNumber);
    ASSERT_EQ(Inject(Frame(9, own, 1, 0, FT_IAX, IAX_ACK)), nullptr);  // the NEW is done
    std::string request = "remip=127.0.0.1;remport=" + std::to_string(PeerPort()) + ";remcall=55;";
    EXPECT_EQ(Inject(Frame(9, own, 10, 0, FT_IAX, IAX_TXREQ, request)), nullptr);
    Bytes ack = Receive();
    EXPECT_EQ(Header(ack).subclass, IAX_ACK);
    Bytes probe = Receive();
    EXPECT_EQ(Header(probe).subclass, IAX_TXCNT);
    EXPECT_EQ(Header(probe).destCall, 55);
    EXPECT_EQ(Header(probe).sequence, 0);

    testing::internal::CaptureStdout();
    Run run = RunTimers(9260);
    testing::internal::GetCapturedStdout();
    std::vector<uint32_t> expected = {60,   300,  1260, 2260, 3260, 4260,
                                      5260, 6260, 7260, 8260, 9260};
    EXPECT_EQ(run.sendTimesMs, expected);  // ten probes, then the TXREJ
    EXPECT_TRUE(run.eventTypes.empty());
    EXPECT_EQ(Header(lastSent).subclass, IAX_TXREJ);
    EXPECT_EQ(Header(lastSent).sequence, 1);  // sequenced like any request
}

}  // namespace
