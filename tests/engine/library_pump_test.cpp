// The library pump on the library's real socket: datagrams wake its owner
// only once reading is enabled, and its timer follows the library's earliest
// due entry on a test-driven clock.
#include "engine/library_pump.h"

#include "tests/engine/engine_harness.h"
#include "tests/support/iax_test_peer.h"

#include "iax/iax.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velnar {
namespace {

using test::LibraryPort;
using test::PumpBriefly;
using test::PumpUntil;

uint32_t g_ticksMs = 1000;
uint32_t Ticks()
{
    return g_ticksMs;
}

class LibraryPumpTest : public testing::Test {
protected:
    void SetUp() override
    {
        IaxSetTickSource(Ticks);
        ASSERT_GE(IaxOpenSocket(-1), 0);
    }
    void TearDown() override
    {
        pump.Stop();
        IaxCloseSocket();
        IaxSetTickSource(nullptr);
    }

    // Reads what is waiting on the socket, as the owner's drain would.
    void Wake()
    {
        ++wakes;
        uint8_t datagram[2048];
        while (recv(IaxSocketHandle(), datagram, sizeof datagram, MSG_DONTWAIT) > 0) {
        }
    }

    // One datagram to the library's port from a socket of the test's own.
    void SendDatagram()
    {
        int sender = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(LibraryPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char byte = 0;
        EXPECT_EQ(sendto(sender, &byte, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 1);
        close(sender);
    }

    int wakes = 0;
    LibraryPump pump{[this] { Wake(); }};
};

TEST_F(LibraryPumpTest, NothingIsWatchedOrTimedWithoutASocket)
{
    pump.EnableReading();
    pump.Arm();
    EXPECT_FALSE(pump.IsReading());
    EXPECT_FALSE(pump.IsArmed());
}

TEST_F(LibraryPumpTest, DatagramsWakeTheOwnerOnlyOnceReadingIsEnabled)
{
    pump.SetSocket(IaxSocketHandle(), IaxNextDueMs);
    SendDatagram();
    PumpBriefly();
    EXPECT_EQ(wakes, 0);
    pump.EnableReading();
    pump.EnableReading();  // a second request changes nothing
    EXPECT_TRUE(PumpUntil([&] { return wakes > 0; }));
    EXPECT_EQ(wakes, 1);
}

TEST_F(LibraryPumpTest, TimerFollowsTheLibrarysEarliestEntry)
{
    pump.SetSocket(IaxSocketHandle(), IaxNextDueMs);
    pump.Arm();
    EXPECT_FALSE(pump.IsArmed()) << "nothing is due yet";

    iaxpeer::IaxTestPeer peer;  // a NEW waits for its ACK: the library schedules a resend
    IaxSession* session = IaxNewSession();
    ASSERT_EQ(IaxPlaceCall(session, nullptr, test::DialStringFor(peer.Port()).c_str(), nullptr), 0);
    const int dueMs = IaxNextDueMs();
    ASSERT_GT(dueMs, 0);
    pump.Arm();
    EXPECT_TRUE(pump.IsArmed());
    PumpBriefly();
    EXPECT_EQ(wakes, 0) << "the clock has not moved";

    g_ticksMs += static_cast<uint32_t>(dueMs);
    pump.Arm();
    EXPECT_TRUE(PumpUntil([&] { return wakes == 1; }));

    pump.Stop();
    pump.Arm();
    EXPECT_FALSE(pump.IsArmed());
}

}  // namespace
}  // namespace velnar
