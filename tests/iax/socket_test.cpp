#include <gtest/gtest.h>

#include "iax/random_source.h"
#include "unit_fixture.h"

#include <set>

namespace {

using iaxunit::IaxUnitTest;

class SocketTest : public IaxUnitTest {
protected:
    // A port that the test holds, so nobody else can take it.
    int HoldPort()
    {
        held = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        EXPECT_EQ(bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t length = sizeof address;
        getsockname(held, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    void TearDown() override
    {
        if (held >= 0)
            close(held);
        IaxUnitTest::TearDown();
    }

    int held = -1;
};

TEST_F(SocketTest, NegativePortBindsAnEphemeralPortOnce)
{
    int port = IaxOpenSocket(-1);
    ASSERT_GT(port, 0) << IaxLastError;
    int handle = IaxSocketHandle();
    EXPECT_GE(handle, 0);
    EXPECT_EQ(IaxOpenSocket(-1), 0);  // already open: nothing new
    EXPECT_EQ(IaxSocketHandle(), handle);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(handle, reinterpret_cast<sockaddr*>(&bound), &length);
    EXPECT_EQ(ntohs(bound.sin_port), port);
    EXPECT_GE(IaxNextCallNumber, 1);
    EXPECT_LE(IaxNextCallNumber, 32767);
    IaxCloseSocket();
    EXPECT_EQ(IaxSocketHandle(), -1);
}

TEST_F(SocketTest, PortInUseIsAClearFailure)
{
    int port = HoldPort();
    EXPECT_EQ(IaxOpenSocket(port), -1);
    EXPECT_STREQ(IaxLastError, "Unable to determine bound port number.");
    EXPECT_EQ(IaxSocketHandle(), -1);
    EXPECT_EQ(IaxOpenSocket(70000), -1);
}

TEST_F(SocketTest, ExplicitFreePortIsBoundAndReported)
{
    int port = HoldPort();
    close(held);
    held = -1;
    EXPECT_EQ(IaxOpenSocket(port), port);
}

// Phones started in the same second must not share their first call number:
// opens within a few milliseconds draw different ones (four equal draws from
// 1..32767 have a chance of one in 3.5e13), and draws stay within the range.
TEST_F(SocketTest, EachOpenDrawsItsFirstCallNumberAfresh)
{
    std::set<int> firstNumbers;
    for (int open = 0; open < 4; ++open) {
        ASSERT_GT(IaxOpenSocket(-1), 0) << IaxLastError;
        firstNumbers.insert(IaxNextCallNumber);
        IaxCloseSocket();
    }
    EXPECT_GT(firstNumbers.size(), 1u);
    std::set<int> drawn;
    for (int draw = 0; draw < 4096; ++draw)
        drawn.insert(IaxRandomCallNumber());
    EXPECT_GE(*drawn.begin(), 1);
    EXPECT_LE(*drawn.rbegin(), 32767);
    EXPECT_GT(drawn.size(), 3500u);  // about 3850 distinct numbers
}

}  // namespace
