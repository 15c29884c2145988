// Looking up the server's name without stalling the phone: a resolver that
// never answers leaves the call at "Calling..." with Hang up working, and
// the library is handed only the address the resolver found.
#include "engine/server_address.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"

#include "iax/iax.h"
#include "iax/testing.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitIax;
using test::FakePhone;
using test::PumpBriefly;
using test::PumpUntil;
using Texts = std::vector<std::string>;

// A resolver the test answers for; until it does, the look-up hangs.
struct LookupLog {
    std::vector<std::string> names;
    int cancels = 0;
    NameResolver::Done pending;
};

class HeldResolver : public NameResolver {
public:
    explicit HeldResolver(LookupLog& log) : m_log(log) {}
    void Lookup(const std::string& name, Done done) override
    {
        m_log.names.push_back(name);
        m_log.pending = std::move(done);
    }
    void Cancel() override
    {
        if (m_log.pending)
            ++m_log.cancels;
        m_log.pending = nullptr;
    }

private:
    LookupLog& m_log;
};

class ServerLookup : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
        fp.phone->UseResolver(std::make_unique<HeldResolver>(log));
    }

    std::string DialByName(const std::string& host)
    {
        return "alice@" + host + ":" + std::to_string(peer.Port()) + "/600";
    }

    // The held look-up ends with this address (empty: the name has none).
    void Answer(const std::string& address)
    {
        ASSERT_TRUE(log.pending);
        auto done = std::move(log.pending);
        log.pending = nullptr;
        done(address);
    }

    FakePhone fp;
    IaxTestPeer peer;
    LookupLog log;
};

TEST_F(ServerLookup, UnansweredLookupShowsCallingAndHangUpCancelsIt)
{
    fp.phone->Dial(DialByName("pbx.example"));
    PumpBriefly();
    EXPECT_EQ(log.names, Texts{"pbx.example"});
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    EXPECT_TRUE(fp.phone->IsInCall());
    fp.phone->SendTones("5");  // nowhere to send yet
    EXPECT_TRUE(peer.ExpectSilence(200));
    fp.phone->HangUp();
    EXPECT_EQ(log.cancels, 1);
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Hanging up...", "Ready"}));
    EXPECT_FALSE(fp.phone->IsInCall());
    EXPECT_EQ(IaxSessionCount(), 0);
    PumpBriefly();
    EXPECT_TRUE(peer.ExpectSilence(200));  // not even a HANGUP
}

TEST_F(ServerLookup, FoundAddressCarriesTheCallAndItsFields)
{
    fp.phone->Dial(DialByName("pbx.example"));
    EXPECT_TRUE(peer.ExpectSilence(100));
    Answer("127.0.0.1");
    auto newFrame = AwaitIax(peer, kNew);
    ASSERT_TRUE(newFrame) << peer.LastError();
    EXPECT_NE(newFrame->Text().find("username=alice;"), std::string::npos) << newFrame->Text();
    EXPECT_NE(newFrame->Text().find("exten=600;"), std::string::npos) << newFrame->Text();
    peer.SendIax(kAccept, "formats=2;", true);
    EXPECT_TRUE(PumpUntil([&] { return fp.owner.Last() == "Connected"; }));
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Connected"}));
}

TEST_F(ServerLookup, NameWithoutAddressEndsOnTheFailurePath)
{
    fp.phone->Dial(DialByName("nowhere.example"));
    Answer("");
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Cannot connect- bad server name? ", "Hanging up...", "Ready"}));
    EXPECT_FALSE(fp.phone->IsInCall());
    EXPECT_EQ(IaxSessionCount(), 0);
    EXPECT_TRUE(peer.ExpectSilence(200));
}

// Numeric addresses go straight to the library, as before.
TEST_F(ServerLookup, NumericAddressNeedsNoLookup)
{
    fp.phone->Dial(test::DialStringFor(peer.Port()));
    EXPECT_TRUE(log.names.empty());
    EXPECT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
}

// The system's resolver, in the background: "localhost" is found in the
// hosts file, so no name server is needed.
TEST(SystemResolver, LocalhostReachesThePeer)
{
    IaxTestPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetAutoAck(true);
    FakePhone fp;
    fp.phone->Dial("localhost:" + std::to_string(peer.Port()) + "/600");
    EXPECT_EQ(fp.owner.statuses, Texts{"Calling..."});
    EXPECT_TRUE(AwaitIax(peer, kNew, 10000)) << peer.LastError();
}

TEST(ServerAddress, NameIsCutOutAndReplacedKeepingTheRest)
{
    struct Row {
        const char* dial;
        const char* name;      // to look up; empty when none is needed
        const char* replaced;  // with the name replaced by 10.1.2.3
    } rows[] = {
        {"pbx.example/600", "pbx.example", "10.1.2.3/600"},
        {"al:pw@pbx.example:4570/600@ctx", "pbx.example", "al:pw@10.1.2.3:4570/600@ctx"},
        {"127.0.0.1:4570/600", "", "10.1.2.3:4570/600"},
        {"10.0.0.1", "", "10.1.2.3"},
        {"/600", "", "/600"},
        {"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dial);
        EXPECT_EQ(ServerNameToLookUp(row.dial), row.name);
        EXPECT_EQ(WithServerAddress(row.dial, "10.1.2.3"), row.replaced);
    }
}

}  // namespace
}  // namespace velnar
