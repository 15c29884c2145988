#include "engine/g711_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velnar {
namespace {

// Codes and values fixed by the companding laws themselves.
TEST(G711Codec, KnownCodes)
{
    struct Row {
        int16_t linear;
        uint8_t mu;
        uint8_t a;
    };
    const Row rows[] = {
        {0, 0xFF, 0xD5},      {-1, 0x7F, 0x55},   {8, 0xFE, 0xD5},     {32767, 0x80, 0xAA},
        {-32768, 0x00, 0x2A}, {1000, 0xCE, 0xFA}, {-1000, 0x4E, 0x7A},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MuLawFromLinear(row.linear), row.mu) << row.linear;
        EXPECT_EQ(ALawFromLinear(row.linear), row.a) << row.linear;
    }
    EXPECT_EQ(LinearFromMuLaw(0xFF), 0);
    EXPECT_EQ(LinearFromMuLaw(0x80), 32124);
    EXPECT_EQ(LinearFromMuLaw(0x00), -32124);
    EXPECT_EQ(LinearFromALaw(0xD5), 8);
    EXPECT_EQ(LinearFromALaw(0x55), -8);
    EXPECT_EQ(LinearFromALaw(0xAA), 32256);
    EXPECT_EQ(LinearFromALaw(0x2A), -32256);
}

// Every code decodes to the value its segment and step define, and encoding
// that value gives the code back (µ-law's negative zero aside).
TEST(G711Codec, EveryCodeFollowsItsSegmentRule)
{
    for (int code = 0; code < 256; ++code) {
        const int mu = static_cast<uint8_t>(~code);
        const int muSegment = (mu >> 4) & 7, muStep = mu & 15;
        const int muMagnitude = (((muStep << 3) + 0x84) << muSegment) - 0x84;
        EXPECT_EQ(std::abs(LinearFromMuLaw(static_cast<uint8_t>(code))), muMagnitude) << code;
        if (code != 0x7F) {
            EXPECT_EQ(MuLawFromLinear(LinearFromMuLaw(static_cast<uint8_t>(code))), code) << code;
        }

        const int a = code ^ 0x55;
        const int aSegment = (a >> 4) & 7, aStep = a & 15;
        const int aMagnitude =
            aSegment == 0 ? (aStep << 4) + 8 : ((aStep << 4) + 0x108) << (aSegment - 1);
        EXPECT_EQ(std::abs(LinearFromALaw(static_cast<uint8_t>(code))), aMagnitude) << code;
        EXPECT_EQ(ALawFromLinear(LinearFromALaw(static_cast<uint8_t>(code))), code) << code;
    }
}

// Over the whole 16-bit range the decoded value stays within half a step of
// the input (the quantisation error of the segment it falls in), and never
// moves the wrong way as the input grows.
TEST(G711Codec, QuantisationErrorIsBoundedAndMonotonic)
{
    int previousMu = -32768, previousA = -32768;
    for (int x = -32768; x <= 32767; ++x) {
        const auto sample = static_cast<int16_t>(x);
        const int mu = LinearFromMuLaw(MuLawFromLinear(sample));
        const int a = LinearFromALaw(ALawFromLinear(sample));
        EXPECT_GE(mu, previousMu) << x;
        EXPECT_GE(a, previousA) << x;
        previousMu = mu;
        previousA = a;
        if (std::abs(x) < 32000) {
            // The widest step is 1024 (µ-law) and 1024 (A-law) at the top segment.
            ASSERT_LE(std::abs(mu - x), 512) << x;
            ASSERT_LE(std::abs(a - x), 512) << x;
        }
    }
}

TEST(G711Codec, BuffersRoundTripFrameByFrame)
{
    int16_t pcm[kG711FrameBytes];
    for (size_t i = 0; i < kG711FrameBytes; ++i)
        pcm[i] = static_cast<int16_t>(i * 400 - 32000);
    uint8_t codes[kG711FrameBytes];
    int16_t back[kG711FrameBytes];
    MuLawEncode(pcm, kG711FrameBytes, codes);
    MuLawDecode(codes, kG711FrameBytes, back);
    for (size_t i = 0; i < kG711FrameBytes; ++i)
        EXPECT_EQ(back[i], LinearFromMuLaw(MuLawFromLinear(pcm[i])));
    ALawEncode(pcm, kG711FrameBytes, codes);
    ALawDecode(codes, kG711FrameBytes, back);
    for (size_t i = 0; i < kG711FrameBytes; ++i)
        EXPECT_EQ(back[i], LinearFromALaw(ALawFromLinear(pcm[i])));
}

}  // namespace
}  // namespace velnar
