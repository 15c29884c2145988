// The audio path on the in-memory wave devices: the noise gate and sending
// over a real loopback call, decoding voice into the playback queue, and
// what the engine does with bad voice and failing devices.
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"

#include "engine/gsm_codec.h"
#include "iax/iax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitAck;
using test::AwaitFull;
using test::AwaitIax;
using test::AwaitVoice;
using test::DialStringFor;
using test::FakePhone;
using test::GsmFramesOfTone;
using test::PumpBriefly;
using test::PumpUntil;

std::vector<uint8_t> SamplesOf(uint16_t sample, size_t count = kGsmFrameSamples)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<uint8_t>(sample >> 8));
    }
    return bytes;
}

// ---- Voice decoded into the playback queue -------------------------------

// On a frozen clock the jitter buffer hands voice over as soon as it arrives,
// so once the peer has its ACK and the loop has run, the engine has handled
// the voice.
uint32_t StillTicks()
{
    return 5000;
}

// Freezes the library's clock for one test.
struct StillClock {
    StillClock() { IaxSetTickSource(StillTicks); }
    ~StillClock() { IaxSetTickSource(nullptr); }
    StillClock(const StillClock&) = delete;
    StillClock& operator=(const StillClock&) = delete;
};

class Playback : public testing::Test {
protected:
    void SetUp() override
    {
        IaxSetTickSource(StillTicks);
        peer.SetClock(StillTicks);
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        peer.SendIax(kAccept, "formats=2;", true);
    }
    void TearDown() override { IaxSetTickSource(nullptr); }

    // Sends voice from the peer and waits until the engine has handled it.
    void Send(const std::vector<uint8_t>& bytes, uint32_t format = kGsmFormat)
    {
        FullHeader sent = peer.SendVoice(format, bytes);
        ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
        PumpBriefly();
    }
    void Play(size_t frames) { Send(GsmFramesOfTone(500, frames)); }
    size_t Written() const { return fp.out->Written().size(); }

    IaxTestPeer peer;
    FakePhone fp;
};

TEST_F(Playback, EventLengthsThatAreNotWholeFramesQueueNothing)
{
    auto frames = GsmFramesOfTone(500, 4);
    for (size_t length : {1u, 32u, 34u, 40u, 65u, 100u, 131u}) {
        Send({frames.begin(), frames.begin() + std::ptrdiff_t(length)});
        EXPECT_EQ(Written(), 0u) << length;
    }
    Send({frames.begin(), frames.begin() + 99});
    EXPECT_EQ(Written(), 3u);
}

TEST_F(Playback, RefusedFrameEndsItsEvent)
{
    auto frames = GsmFramesOfTone(500, 3);
    frames[kGsmFrameBytes] = 0x00;  // the second frame loses its signature
    Send(frames);
    EXPECT_EQ(Written(), 1u);
    Play(1);  // the decoder still works for the next event
    EXPECT_EQ(Written(), 2u);
}

TEST_F(Playback, OtherFormatsAreDroppedAndDecoderIsMadeOnFirstVoice)
{
    ASSERT_NE(fp.phone->CurrentCall(), nullptr);
    Send(GsmFramesOfTone(500, 1), 4);
    EXPECT_EQ(Written(), 0u);
    EXPECT_FALSE(fp.phone->CurrentCall()->decoder);
    Send(GsmFramesOfTone(500, 1));
    EXPECT_EQ(Written(), 1u);
    EXPECT_TRUE(fp.phone->CurrentCall()->decoder);
}

TEST_F(Playback, DecodedBlocksCarryTheTone)
{
    Play(12);
    ASSERT_EQ(Written(), 12u);
    std::vector<uint8_t> pcm;
    for (size_t i = 4; i < Written(); ++i)
        pcm.insert(pcm.end(), fp.out->Written()[i].begin(), fp.out->Written()[i].end());
    EXPECT_EQ(test::StrongestOf(pcm, {300, 500, 800, 1200}), 500);
}

TEST(PlaybackWithoutDevices, VoiceIsDroppedWhenTheDevicesNeverOpened)
{
    StillClock still;
    IaxTestPeer peer;
    peer.SetClock(StillTicks);
    peer.SetAutoAck(true);
    FakePhone fp([](FakeWaveIn&, FakeWaveOut& out) { out.results.open = WaveErrNoDevice; });
    fp.phone->Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
    peer.SendIax(kAccept, "formats=2;", true);
    ASSERT_TRUE(PumpUntil([&] { return fp.owner.Last() == "Connected"; }));
    size_t shown = fp.owner.statuses.size();
    FullHeader sent = peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 5));
    ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
    PumpBriefly();
    EXPECT_EQ(fp.phone->QueuedBlocks(), 0u);
    EXPECT_TRUE(fp.owner.Since(shown).empty());
}

// ---- Capture and sending, over a loopback call ----------------------------

class Capture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
        EXPECT_TRUE(fp.in->IsStarted());
    }

    void Answer()
    {
        peer.SendIax(kAccept, "formats=2;", true);
        peer.SendControl(kAnswer);
        ASSERT_TRUE(PumpUntil([&] { return fp.phone->IsTalking(); }));
        ASSERT_TRUE(AwaitFull(peer, kControl, kAnswer)) << peer.LastError();
    }

    // Whether the buffer went out as voice: a touch tone sent right after it
    // is the marker, since loopback keeps the order of datagrams.
    bool SentAsVoice(const std::vector<uint8_t>& pcm)
    {
        peer.ClearPending();
        EXPECT_TRUE(fp.in->Deliver(pcm));
        fp.phone->SendTones("9");
        EXPECT_TRUE(AwaitFull(peer, kDtmf, '9')) << peer.LastError();
        return std::any_of(peer.Pending().begin(), peer.Pending().end(),
                           [](const PeerFrame& f) { return !f.full || f.type == kVoice; });
    }

    FakePhone fp;
    IaxTestPeer peer;
};

TEST_F(Capture, NothingIsSentBeforeTheAnswer)
{
    EXPECT_FALSE(SentAsVoice(SamplesOf(0x4000)));
    // A short buffer is not looked at either.
    EXPECT_TRUE(fp.in->Deliver(SamplesOf(0x4000, 10)));
    EXPECT_EQ(fp.owner.statuses, std::vector<std::string>{"Calling..."});
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
}

struct GateCase {
    int32_t threshold;
    uint16_t sample;
    bool sent;
};

TEST_F(Capture, NoiseGateComparesTheByteLevelWithTheThreshold)
{
    Answer();
    const GateCase cases[] = {
        {1, 0x0000, false},   {1, 0x0100, false}, {1, 0x0101, true},    {2, 0x0101, false},
        {22, 0x1515, false},  {22, 0x1616, true}, {128, 0x7F7F, false}, {128, 0x8080, true},
        {181, 0x8080, false}, {0, 0x0000, true},
    };
    for (const auto& c : cases) {
        fp.phone->m_nNoiseThreshold = c.threshold;
        EXPECT_EQ(SentAsVoice(SamplesOf(c.sample)), c.sent)
            << "threshold " << c.threshold << " sample " << std::hex << c.sample;
    }
}

TEST_F(Capture, SentVoiceIsOneGsmFramePerBuffer)
{
    Answer();
    fp.in->Deliver(test::TonePcm(700, kGsmFrameSamples));
    auto voice = AwaitVoice(peer);
    ASSERT_TRUE(voice) << peer.LastError();
    EXPECT_TRUE(voice->full);
    EXPECT_EQ(voice->subclass, kGsmFormat);
    ASSERT_EQ(voice->payload.size(), kGsmFrameBytes);
    EXPECT_EQ(voice->payload[0] >> 4, 0xD);
    // The buffer went back into the device, zeroed.
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
}

TEST_F(Capture, ShortBufferWhileTalkingShowsBufferToShort)
{
    Answer();
    fp.in->Deliver(SamplesOf(0x4000, 100));
    EXPECT_EQ(fp.owner.Last(), "Buffer to short");
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
}

TEST_F(Capture, HangingUpWhileTalkingReturnsBuffersQuietly)
{
    Answer();
    size_t before = fp.owner.statuses.size();
    fp.phone->HangUp();
    fp.in->DispatchPosted();
    EXPECT_EQ(fp.owner.Since(before), (std::vector<std::string>{"Hanging up...", "Ready"}));
    EXPECT_EQ(fp.in->QueuedCount(), 0u);
}

TEST_F(Capture, NextCallRequeuesAllBuffersEvenBeforeStaleCompletionsArrive)
{
    fp.phone->HangUp();  // completions are posted, not yet dispatched
    peer.StartCall();
    fp.phone->Dial(DialStringFor(peer.Port()));
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
    fp.in->DispatchPosted();  // the stale completions must not disturb them
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
}

TEST_F(Capture, CaptureDeviceThatVanishesStopsCapturingQuietly)
{
    Answer();
    fp.in->results.prepare = WaveErrDevice;
    fp.in->results.addBuffer = WaveErrDevice;
    for (int i = 0; i < kCaptureBufferCount; ++i)
        fp.in->Deliver(SamplesOf(0x4000));
    EXPECT_EQ(fp.in->QueuedCount(), 0u);
    EXPECT_FALSE(fp.in->Deliver(SamplesOf(0x4000)));
    fp.phone->HangUp();
    EXPECT_EQ(fp.owner.Last(), "Ready");
}

TEST(CaptureWithoutDevices, FailedInputOpenClosesOutputAndAdvertisesNoFormat)
{
    IaxTestPeer peer;
    peer.SetAutoAck(true);
    FakePhone fp([](FakeWaveIn& in, FakeWaveOut&) { in.results.open = WaveErrNoDevice; });
    EXPECT_FALSE(fp.out->IsOpen());
    fp.phone->Dial(DialStringFor(peer.Port()));
    auto newFrame = AwaitIax(peer, kNew);
    ASSERT_TRUE(newFrame) << peer.LastError();
    EXPECT_NE(newFrame->Text().find("formats=0;"), std::string::npos) << newFrame->Text();
    EXPECT_EQ(fp.owner.statuses, std::vector<std::string>{"Calling..."});
}

// A phone without sound says so once, at start, naming the device that
// failed; the call still goes out, and trying the device again at the call
// says nothing more.
TEST(CaptureWithoutDevices, DeviceThatFailsAtStartIsNamedOnceOnStandardError)
{
    struct Row {
        bool captureFails;
        const char* line;
    } rows[] = {
        {false, "velnar: no sound: playback: the device could not be opened\n"},
        {true, "velnar: no sound: capture: the device could not be opened\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        IaxTestPeer peer;
        peer.SetAutoAck(true);
        testing::internal::CaptureStderr();
        FakePhone fp([&](FakeWaveIn& in, FakeWaveOut& out) {
            (row.captureFails ? in.results.open : out.results.open) = WaveErrNoDevice;
        });
        fp.phone->Dial(DialStringFor(peer.Port()));
        EXPECT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.line);
    }
}

TEST(CaptureWithoutDevices, DevicesThatFailedAtStartOpenAtTheNextCallAndGsmIsAdvertised)
{
    IaxTestPeer peer;
    peer.SetAutoAck(true);
    FakePhone fp([](FakeWaveIn& in, FakeWaveOut&) { in.results.open = WaveErrNoDevice; });
    ASSERT_FALSE(fp.in->IsOpen());
    ASSERT_FALSE(fp.out->IsOpen());
    fp.in->results.open = WaveOk;  // the sound server is back
    fp.phone->Dial(DialStringFor(peer.Port()));
    auto newFrame = AwaitIax(peer, kNew);
    ASSERT_TRUE(newFrame) << peer.LastError();
    EXPECT_NE(newFrame->Text().find("formats=2;"), std::string::npos) << newFrame->Text();
    EXPECT_TRUE(fp.in->IsOpen());
    EXPECT_TRUE(fp.out->IsOpen());
    EXPECT_TRUE(fp.in->IsStarted());
    EXPECT_EQ(fp.in->QueuedCount(), size_t(kCaptureBufferCount));
}

// A call that ended during the pre-fill leaves playback paused with blocks
// pending; the next call starts from nothing, device and engine both not
// paused, and plays as the first call did.
TEST(PlaybackAcrossCalls, NextCallStartsUnpausedWithNothingLeftOver)
{
    StillClock still;
    IaxTestPeer peer;
    peer.SetClock(StillTicks);
    peer.SetAutoAck(true);
    FakePhone fp;
    fp.phone->Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
    peer.SendIax(kAccept, "formats=2;", true);
    FullHeader sent = peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 2));
    ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
    PumpBriefly();
    ASSERT_TRUE(fp.out->IsPaused());
    ASSERT_EQ(fp.out->PendingCount(), 2u);
    peer.SendIax(kHangup);
    ASSERT_TRUE(PumpUntil([&] { return fp.owner.Last() == "Ready"; }));

    peer.StartCall();
    fp.phone->Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
    EXPECT_FALSE(fp.out->IsPaused());
    EXPECT_FALSE(fp.phone->Playback().IsPaused());
    EXPECT_EQ(fp.out->PendingCount(), 0u);
    EXPECT_EQ(fp.phone->QueuedBlocks(), 0u);

    peer.SendIax(kAccept, "formats=2;", true);
    sent = peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 1));
    ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
    PumpBriefly();
    EXPECT_TRUE(fp.out->IsPaused());
    EXPECT_TRUE(fp.phone->Playback().IsPaused());
}

// ---- Voice arriving over the network -------------------------------------

class VoiceIn : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.Ok());
        peer.SetAutoAck(true);
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        peer.SendIax(kAccept, "formats=2;", true);
    }
    size_t Written() const { return fp.out->Written().size(); }
    // Sends one good frame and waits for its block: everything sent before
    // it has been handled by then.
    void SendMarkerAndWait(size_t expectedBlocks)
    {
        peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 1));
        EXPECT_TRUE(PumpUntil([&] { return Written() >= expectedBlocks; }));
        PumpBriefly();
    }

    FakePhone fp;
    IaxTestPeer peer;
};

TEST_F(VoiceIn, VoiceIsPlayedWhileCallingAndMiniFramesToo)
{
    peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 3));
    ASSERT_TRUE(PumpUntil([&] { return Written() == 3; }));
    peer.SendMini(GsmFramesOfTone(500, 1));
    ASSERT_TRUE(PumpUntil([&] { return Written() == 4; }));
    EXPECT_FALSE(fp.out->IsPaused());
    EXPECT_EQ(fp.owner.Last(), "Connected");
}

TEST_F(VoiceIn, OtherFormatsOddLengthsAndRefusedFramesAreDroppedSilently)
{
    peer.SendVoice(4, Bytes(33, 0xFF));           // another codec
    peer.SendVoice(kGsmFormat, Bytes(40, 0xD0));  // not whole frames
    peer.SendVoice(kGsmFormat, Bytes(66, 0x00));  // refused first frame
    SendMarkerAndWait(1);
    EXPECT_EQ(Written(), 1u);
    EXPECT_EQ(fp.owner.statuses, (std::vector<std::string>{"Calling...", "Connected"}));
}

// A flood on a frozen clock: every frame arrives with the same delay, so the
// jitter buffer hands all of them over at once, and only the 13-block bound
// decides what reaches the device. (On the real clock a busy machine lets the
// jitter buffer drop late frames, which hides the bound.)
uint32_t FrozenTicks()
{
    return 5000;
}

class VoiceInOnFrozenClock : public VoiceIn {
protected:
    void SetUp() override
    {
        IaxSetTickSource(FrozenTicks);
        peer.SetClock(FrozenTicks);
        VoiceIn::SetUp();
    }
    void TearDown() override { IaxSetTickSource(nullptr); }
};

TEST_F(VoiceInOnFrozenClock, FloodedVoiceStaysWithinThirteenBlocks)
{
    FullHeader last;
    for (int i = 0; i < 200; ++i)
        last = peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 3));
    ASSERT_TRUE(AwaitAck(peer, last)) << peer.LastError();
    PumpBriefly();
    EXPECT_EQ(Written(), 13u);
    EXPECT_LE(fp.phone->QueuedBlocks(), 13u);
    EXPECT_TRUE(fp.phone->IsInCall());
    // Once the device plays, the queue takes blocks again.
    fp.out->PlayAll();
    peer.SendVoice(kGsmFormat, GsmFramesOfTone(500, 1));
    size_t before = Written();
    EXPECT_TRUE(PumpUntil([&] { return Written() == before + 1; }));
}

}  // namespace
}  // namespace velnar
