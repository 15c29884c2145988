// G.711 companding: each 16-bit linear sample becomes one 8-bit µ-law or
// A-law code and back. At 8000 Hz a 20-ms frame is 160 samples, so 160 code
// bytes on the wire against 320 bytes of PCM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnar {

constexpr size_t kG711FrameBytes = 160;  // one code byte per sample

uint8_t MuLawFromLinear(int16_t sample);
int16_t LinearFromMuLaw(uint8_t code);
uint8_t ALawFromLinear(int16_t sample);
int16_t LinearFromALaw(uint8_t code);

// Whole buffers: `samples` 16-bit samples in native order to as many codes,
// and back.
void MuLawEncode(const int16_t* pcm, size_t samples, uint8_t* codes);
void MuLawDecode(const uint8_t* codes, size_t samples, int16_t* pcm);
void ALawEncode(const int16_t* pcm, size_t samples, uint8_t* codes);
void ALawDecode(const uint8_t* codes, size_t samples, int16_t* pcm);

}  // namespace velnar
