// The engine over version 2 against the echo service's version-2 side: the
// same status texts as version 1, speech in the codec the exchange chose
// echoed back into the playback queue, and a hang-up that the far end
// acknowledges before an exiting program goes.
#include "tests/engine/engine_harness.h"
#include "tests/support/echo_peer_process.h"

#include "engine/g711_codec.h"

#include <gtest/gtest.h>

namespace velnar::test {
namespace {

using Texts = std::vector<std::string>;

FakePhone::Make Version2(std::vector<Codec> codecs)
{
    return [codecs](PhoneOwner& owner, std::unique_ptr<WaveIn> in, std::unique_ptr<WaveOut> out,
                    int port) {
        return std::make_unique<TestPhone>(owner, std::move(in), std::move(out), port,
                                           ProtocolSettings{2, false, codecs});
    };
}

CallTarget EchoTarget(uint16_t port)
{
    CallTarget target;
    target.host = "127.0.0.1";
    target.port = port;
    target.number = "100";
    return target;
}

// 20 ms of a tone as the capture device would hand it over.
std::vector<uint8_t> ToneBlock(size_t block)
{
    return TonePcm(500, 160, 8000, block * 160);
}

struct Codecs {
    std::vector<Codec> order;
    const char* name;
    int format;  // the wire bit the call must use
};

void PrintTo(const Codecs& codecs, std::ostream* out)
{
    *out << codecs.name << " first";
}

class Version2Phone : public ::testing::TestWithParam<Codecs> {};

TEST_P(Version2Phone, CallsTheEchoServiceHearsItselfAndEndsAcknowledged)
{
    EchoPeerProcess echo;
    ASSERT_NE(echo.V2Port(), 0) << "no version-2 side";
    FakePhone fp({}, Version2(GetParam().order));
    TestPhone& phone = *fp.phone;
    EXPECT_EQ(phone.ProtocolVersion(), 2);
    EXPECT_GT(phone.LocalPort(), 0);
    EXPECT_EQ(phone.RegistrationState(), "Not registered");

    phone.Dial(EchoTarget(echo.V2Port()));
    ASSERT_TRUE(PumpUntil([&] { return phone.IsTalking(); }, 5000)) << fp.owner.Last();
    EXPECT_EQ(fp.owner.statuses, (Texts{"Calling...", "Connected"}));

    // The echo comes back as the tone that was sent, in whichever codec the
    // exchange took from our order.
    for (size_t block = 0; block < 25; ++block) {
        fp.in->Deliver(ToneBlock(block));
        RunFor(20);
        fp.out->PlayN(fp.out->Written().size());
    }
    ASSERT_TRUE(PumpUntil([&] { return fp.out->Written().size() >= 10; }, 3000));
    std::vector<uint8_t> heard;
    for (const auto& block : fp.out->Written())
        heard.insert(heard.end(), block.begin(), block.end());
    EXPECT_EQ(StrongestOf(heard, {300, 500, 1000}), 500);
    EXPECT_GT(phone.Figures().framesReceived, 0u);
    EXPECT_EQ(phone.Figures().voiceFormat, GetParam().format);

    bool done = false;
    phone.HangUpBeforeExit(kExitHangUpWaitMs, [&] { done = true; });
    ASSERT_TRUE(PumpUntil([&] { return done; }, 3 * kExitHangUpWaitMs));
    EXPECT_EQ(fp.owner.Last(), "Ready");
    ASSERT_TRUE(PumpUntil([&] { return echo.Said("HANGUP"); }, 3000)) << echo.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, Version2Phone,
    ::testing::Values(Codecs{{Codec::Ulaw, Codec::Alaw, Codec::Gsm}, "Ulaw", 0x4},
                      Codecs{{Codec::Alaw, Codec::Ulaw, Codec::Gsm}, "Alaw", 0x8},
                      Codecs{{Codec::Gsm, Codec::Ulaw, Codec::Alaw}, "Gsm", 0x2}),
    [](const auto& info) { return std::string(info.param.name); });

// A call that cannot go anywhere ends with version 1's texts, and the phone
// is free for the next call.
TEST(Version2PhoneEnds, AnUnusablePortFailsAtOnce)
{
    FakePhone fp({}, Version2({Codec::Ulaw, Codec::Alaw, Codec::Gsm}));
    CallTarget target = EchoTarget(1);
    target.port = 0;
    fp.phone->Dial(target);
    EXPECT_EQ(fp.owner.statuses,
              (Texts{"Calling...", "Cannot connect- bad server name? ", "Hanging up...", "Ready"}));
    EXPECT_FALSE(fp.phone->IsInCall());
}

// A version change moves the phone to the other version's socket; a change
// asked for during a call waits for its end.
TEST(Version2PhoneEnds, ProtocolChangeWaitsForTheCallToEnd)
{
    EchoPeerProcess echo(true);
    FakePhone fp;
    EXPECT_EQ(fp.phone->ProtocolVersion(), 1);
    EXPECT_EQ(fp.phone->RegistrationState(), "");
    fp.phone->Dial(DialStringFor(echo.Port()));
    ASSERT_TRUE(PumpUntil([&] { return fp.owner.Last() == "Connected"; }, 5000));
    fp.phone->UseProtocol(ProtocolSettings{2, false, {Codec::Ulaw, Codec::Alaw, Codec::Gsm}}, {});
    EXPECT_EQ(fp.phone->ProtocolVersion(), 1);
    fp.phone->HangUp();
    EXPECT_EQ(fp.phone->ProtocolVersion(), 2);
    fp.phone->Dial(EchoTarget(echo.V2Port()));
    ASSERT_TRUE(PumpUntil([&] { return fp.phone->IsTalking(); }, 5000)) << fp.owner.Last();
    fp.phone->HangUp();
}

// ---- Registration and incoming calls, with the echo service as registrar.

class RegisteringOwner : public RecordingOwner {
public:
    void RegistrationChanged(const std::string& state) override { states.push_back(state); }
    void IncomingCall(const std::string& caller) override { callers.push_back(caller); }
    std::vector<std::string> states;
    std::vector<std::string> callers;
};

struct RegisteredPhone {
    explicit RegisteredPhone(const EchoPeerProcess& echo, const std::string& password)
    {
        ProtocolSettings protocol{2, true, {Codec::Ulaw, Codec::Alaw, Codec::Gsm}};
        phone = std::make_unique<TestPhone>(owner, std::make_unique<FakeWaveIn>(),
                                            std::make_unique<FakeWaveOut>(), -1, protocol);
        CallTarget account = EchoTarget(echo.V2Port());
        account.user = "alice";
        account.password = password;
        phone->UseProtocol(protocol, account);
    }
    bool Registered()
    {
        return PumpUntil([&] { return phone->RegistrationState() == "Registered"; }, 5000);
    }
    RegisteringOwner owner;
    std::unique_ptr<TestPhone> phone;
};

TEST(Version2Registration, RegistersIsRungAnswersWithCallAndReleasesAtExit)
{
    EchoPeerProcess echo(false, {"--password=sesame", "--ring-registered=0"});
    RegisteredPhone rp(echo, "sesame");
    ASSERT_TRUE(rp.Registered()) << echo.Output();
    EXPECT_EQ(rp.owner.states.back(), "Registered");
    ASSERT_TRUE(PumpUntil([&] { return rp.phone->IsRinging(); }, 5000)) << echo.Output();
    EXPECT_EQ(rp.owner.callers, (Texts{"Echo <600>"}));
    EXPECT_TRUE(rp.owner.statuses.empty()) << rp.owner.Last();
    rp.phone->Dial(CallTarget{});  // the window's Call
    EXPECT_TRUE(rp.phone->IsTalking());
    EXPECT_EQ(rp.owner.statuses, (Texts{"Connected"}));
    ASSERT_TRUE(PumpUntil([&] { return echo.Said("answered by alice"); }, 3000)) << echo.Output();

    bool done = false;
    rp.phone->HangUpBeforeExit(kExitHangUpWaitMs, [&] { done = true; });
    ASSERT_TRUE(PumpUntil([&] { return done; }, 3 * kExitHangUpWaitMs));
    EXPECT_TRUE(PumpUntil([&] { return echo.Said("released alice"); }, 3000)) << echo.Output();
    EXPECT_TRUE(echo.Said("HANGUP")) << echo.Output();
}

TEST(Version2Registration, HangUpDeclinesARingingCallWithACause)
{
    EchoPeerProcess echo(false, {"--ring-registered=0"});
    RegisteredPhone rp(echo, "");
    ASSERT_TRUE(rp.Registered()) << echo.Output();
    ASSERT_TRUE(PumpUntil([&] { return rp.phone->IsRinging(); }, 5000)) << echo.Output();
    rp.phone->SendTones("5");  // not to a call that has not been taken
    rp.phone->HangUp();
    EXPECT_FALSE(rp.phone->IsInCall());
    EXPECT_EQ(rp.owner.statuses, (Texts{"Hanging up...", "Ready"}));
    EXPECT_TRUE(PumpUntil([&] { return echo.Said("declined by alice (cause 21)"); }, 3000))
        << echo.Output();
    EXPECT_FALSE(echo.Said("DTMF")) << echo.Output();
}

TEST(Version2Registration, AWrongPasswordIsRefused)
{
    EchoPeerProcess echo(false, {"--password=sesame"});
    RegisteredPhone rp(echo, "wrong");
    ASSERT_TRUE(PumpUntil(
        [&] {
            return !rp.owner.states.empty() && rp.owner.states.back() == "Registration refused";
        },
        5000))
        << echo.Output();
    EXPECT_EQ(rp.phone->RegistrationState(), "Registration refused");
}

}  // namespace
}  // namespace velnar::test
