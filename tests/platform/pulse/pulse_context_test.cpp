// The shared sound-server connection on the Qt event loop: reaching the
// test server, timed library events, a missing server, a server that dies
// and a fresh connection afterwards.
#include "platform/pulse/pulse_context.h"

#include "tests/platform/server_test.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace velnar {
namespace {

using test::WaitFor;

using PulseContextTest = test::AudioServerTest;

// Held reads wait for the end of the hold and are then served; timed
// events are not held.
TEST(PulseLoopTest, HeldReadsAreServedWhenTheHoldEnds)
{
    int argc = 0;
    QCoreApplication app{argc, nullptr};
    PulseLoop loop;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct Seen {
        int reads = 0;
        bool timed = false;
    } seen;
    pa_mainloop_api* api = loop.Api();
    pa_io_event* io = api->io_new(
        api, fds[0], PA_IO_EVENT_INPUT,
        [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* userdata) {
            char byte;
            static_cast<Seen*>(userdata)->reads += int(read(fd, &byte, 1));
        },
        &seen);
    timeval soon{};
    pa_time_event* timer = api->time_new(
        api, pa_timeval_add(pa_gettimeofday(&soon), 10000),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            static_cast<Seen*>(userdata)->timed = true;
        },
        &seen);

    loop.HoldReadsFor(80);
    ASSERT_EQ(write(fds[1], "a", 1), 1);
    EXPECT_TRUE(WaitFor([&] { return seen.timed; }, 60));
    EXPECT_EQ(seen.reads, 0) << "read during the hold";
    EXPECT_TRUE(WaitFor([&] { return seen.reads == 1; }, 1000));
    api->time_free(timer);
    api->io_free(io);
    close(fds[0]);
    close(fds[1]);
}

// A query answered through the event loop, and a library timer that fires
// on time, not early.
TEST_F(PulseContextTest, AnswersQueriesAndFiresTimersOnTheEventLoop)
{
    auto context = PulseContext::Shared();
    ASSERT_TRUE(context->Connect());
    EXPECT_EQ(PulseContext::Shared(), context) << "one shared connection";

    std::string serverName;
    pa_operation* op = pa_context_get_server_info(
        context->Handle(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            *static_cast<std::string*>(userdata) = info ? info->server_name : "?";
        },
        &serverName);
    ASSERT_NE(op, nullptr);
    pa_operation_unref(op);
    ASSERT_TRUE(WaitFor([&] { return !serverName.empty(); }));
    EXPECT_NE(serverName, "?");

    struct Fired {
        pa_usec_t at = 0;
    } fired;
    const pa_usec_t due = pa_rtclock_now() + 30000;
    pa_time_event* timer = pa_context_rttime_new(
        context->Handle(), due,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            static_cast<Fired*>(userdata)->at = pa_rtclock_now();
        },
        &fired);
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(WaitFor([&] { return fired.at != 0; }, 2000));
    EXPECT_GE(fired.at, due);
    EXPECT_LT(fired.at, due + 20000);
    context->Loop().Api()->time_free(timer);
}

TEST_F(PulseContextTest, MissingServerFailsAtOnce)
{
    test::EnvOverride server("PULSE_SERVER", "unix:/nonexistent/velnar-no-server");
    PulseContext context;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(context.Connect());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(context.GetState(), PulseContext::State::Failed);
}

TEST_F(PulseContextTest, ServerGoneIsReportedAndANewServerIsReachedAfterwards)
{
    PulseContext context;
    std::vector<PulseContext::State> states;
    context.Subscribe([&](PulseContext::State state) { states.push_back(state); });
    {
        test::PrivateAudioServer server;
        ASSERT_TRUE(server.Running()) << "could not start a private audio server";
        ASSERT_TRUE(context.Connect());
        server.Kill();
        ASSERT_TRUE(WaitFor([&] { return context.GetState() == PulseContext::State::Failed; }))
            << "the loss of the server was not noticed";
    }
    EXPECT_EQ(states, (std::vector{PulseContext::State::Connecting, PulseContext::State::Ready,
                                   PulseContext::State::Failed}));

    test::PrivateAudioServer again;
    ASSERT_TRUE(again.Running());
    EXPECT_TRUE(context.Connect());
    EXPECT_EQ(states.back(), PulseContext::State::Ready);
}

}  // namespace
}  // namespace velnar
