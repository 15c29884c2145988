// The GSM frame helpers on the real libgsm, and the noise gate's level.
#include "engine/gsm_codec.h"
#include "engine/noise_gate.h"
#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include <vector>

namespace velnar {
namespace {

using test::StrongestOf;
using test::TonePcm;

TEST(GsmCodec, ToneSurvivesEncodeAndDecodeAtItsFrequency)
{
    GsmState encoder = MakeGsmState();
    GsmState decoder = MakeGsmState();
    ASSERT_TRUE(encoder && decoder);
    std::vector<uint8_t> decoded;
    for (size_t frame = 0; frame < 25; ++frame) {
        auto pcm = TonePcm(1000, kGsmFrameSamples, 8000, frame * kGsmFrameSamples);
        uint8_t gsm[kGsmFrameBytes];
        GsmEncodeFrame(encoder.get(), pcm.data(), gsm);
        EXPECT_EQ(gsm[0] >> 4, 0xD) << "frame " << frame;
        uint8_t back[kPcmFrameBytes];
        ASSERT_TRUE(GsmDecodeFrame(decoder.get(), gsm, back));
        decoded.insert(decoded.end(), back, back + kPcmFrameBytes);
    }
    // Skip the codec's start-up; the rest carries the tone, not its neighbours.
    std::vector<uint8_t> settled(decoded.begin() + 5 * kPcmFrameBytes, decoded.end());
    EXPECT_EQ(StrongestOf(settled, {400, 700, 1000, 1400, 2000}), 1000);
}

TEST(GsmCodec, DecoderRefusesFrameWithoutSignature)
{
    GsmState decoder = MakeGsmState();
    uint8_t frame[kGsmFrameBytes] = {};
    uint8_t pcm[kPcmFrameBytes];
    for (uint8_t nibble : {0x0, 0x1, 0xC, 0xE, 0xF}) {
        frame[0] = static_cast<uint8_t>(nibble << 4);
        EXPECT_FALSE(GsmDecodeFrame(decoder.get(), frame, pcm)) << int(nibble);
    }
    frame[0] = 0xD0;
    EXPECT_TRUE(GsmDecodeFrame(decoder.get(), frame, pcm));
}

struct LevelCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t level;
};

std::vector<uint8_t> Samples(uint16_t sample, size_t count = 160)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<uint8_t>(sample >> 8));
    }
    return bytes;
}

TEST(NoiseGate, LevelCountsBytesNotSamples)
{
    const LevelCase cases[] = {
        {"silence", Samples(0x0000), 0},
        // Each sample contributes one byte of 1: sum 160 over 320 bytes.
        {"0x0100 samples", Samples(0x0100), 0},
        {"0x0101 samples", Samples(0x0101), 1},
        // -1 is 0xFFFF: two bytes of -1.
        {"samples of -1", Samples(0xFFFF), 1},
        // 0x80 is -128 as a signed byte, the largest magnitude.
        {"0x8080 samples", Samples(0x8080), 128},
        {"0x7F7F samples", Samples(0x7F7F), 127},
        {"0x0080 samples", Samples(0x0080), 64},
        {"empty buffer", {}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CaptureLevel(c.bytes.data(), uint32_t(c.bytes.size())), c.level) << c.name;
}

}  // namespace
}  // namespace velnar
