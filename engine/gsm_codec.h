// GSM 06.10 full-rate frames through libgsm: 160 samples (320 bytes of
// 16-bit little-endian PCM, 20 ms at 8000 Hz) into one 33-byte frame and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct gsm_state;

namespace velnar {

constexpr size_t kGsmFrameBytes = 33;
constexpr size_t kGsmFrameSamples = 160;
constexpr size_t kPcmFrameBytes = kGsmFrameSamples * 2;

struct GsmStateDeleter {
    void operator()(gsm_state* state) const;
};
// One encoder or decoder state; null when libgsm could not make one.
using GsmState = std::unique_ptr<gsm_state, GsmStateDeleter>;

GsmState MakeGsmState();

// Encodes kPcmFrameBytes of PCM into kGsmFrameBytes.
void GsmEncodeFrame(gsm_state* encoder, const uint8_t* pcm, uint8_t* frame);

// Decodes kGsmFrameBytes into kPcmFrameBytes of PCM. False when the decoder
// refuses the frame (no 0xD signature in its first nibble); pcm is then
// unspecified.
bool GsmDecodeFrame(gsm_state* decoder, const uint8_t* frame, uint8_t* pcm);

}  // namespace velnar
