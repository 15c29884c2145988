#include "engine/g711_codec.h"

namespace velnar {
namespace {

// µ-law works on a 14-bit magnitude offset by a bias of 33 (132 at 16 bits),
// which makes every segment's step twice the one below it.
constexpr int kMuLawBias = 0x84;
constexpr int kMuLawClip = 32635;

// The segment of a biased or scaled magnitude: the position of its highest
// set bit above `lowest`, 0..7.
int SegmentOf(int magnitude, int lowest)
{
    int segment = 0;
    for (int bound = lowest; segment < 7 && magnitude >= bound; bound <<= 1) {
        ++segment;
    }
    return segment;
}

}  // namespace

uint8_t MuLawFromLinear(int16_t sample)
{
    int magnitude = sample < 0 ? -static_cast<int>(sample) : sample;
    const int sign = sample < 0 ? 0x80 : 0x00;
    if (magnitude > kMuLawClip)
        magnitude = kMuLawClip;
    magnitude += kMuLawBias;
    const int segment = SegmentOf(magnitude, 0x100);
    const int step = (magnitude >> (segment + 3)) & 0x0F;
    // Codes go out inverted so that silence is a run of ones.
    return static_cast<uint8_t>(~(sign | (segment << 4) | step));
}

int16_t LinearFromMuLaw(uint8_t code)
{
    const int bits = static_cast<uint8_t>(~code);
    const int segment = (bits >> 4) & 0x07;
    const int step = bits & 0x0F;
    const int magnitude = (((step << 3) + kMuLawBias) << segment) - kMuLawBias;
    return static_cast<int16_t>((bits & 0x80) ? -magnitude : magnitude);
}

uint8_t ALawFromLinear(int16_t sample)
{
    // A-law codes 13 bits: the top of 16, with its own sign convention
    // (positive has the sign bit set) and every even bit inverted.
    int magnitude = (sample < 0 ? -static_cast<int>(sample) - 1 : sample) >> 3;
    const int sign = sample < 0 ? 0x00 : 0x80;
    if (magnitude > 0x0FFF)
        magnitude = 0x0FFF;
    const int segment = SegmentOf(magnitude, 0x20);
    const int step = segment < 2 ? (magnitude >> 1) & 0x0F : (magnitude >> segment) & 0x0F;
    return static_cast<uint8_t>((sign | (segment << 4) | step) ^ 0x55);
}

int16_t LinearFromALaw(uint8_t code)
{
    const int bits = code ^ 0x55;
    const int segment = (bits >> 4) & 0x07;
    const int step = bits & 0x0F;
    int magnitude = (step << 4) + 8;
    if (segment > 0)
        magnitude = (magnitude + 0x100) << (segment - 1);
    return static_cast<int16_t>((bits & 0x80) ? magnitude : -magnitude);
}

void MuLawEncode(const int16_t* pcm, size_t samples, uint8_t* codes)
{
    for (size_t i = 0; i < samples; ++i)
        codes[i] = MuLawFromLinear(pcm[i]);
}

void MuLawDecode(const uint8_t* codes, size_t samples, int16_t* pcm)
{
    for (size_t i = 0; i < samples; ++i)
        pcm[i] = LinearFromMuLaw(codes[i]);
}

void ALawEncode(const int16_t* pcm, size_t samples, uint8_t* codes)
{
    for (size_t i = 0; i < samples; ++i)
        codes[i] = ALawFromLinear(pcm[i]);
}

void ALawDecode(const uint8_t* codes, size_t samples, int16_t* pcm)
{
    for (size_t i = 0; i < samples; ++i)
        pcm[i] = LinearFromALaw(codes[i]);
}

}  // namespace velnar
