#include "engine/gsm_codec.h"

#include <gsm.h>

#include <cstring>

namespace velnar {

void GsmStateDeleter::operator()(gsm_state* state) const
{
    gsm_destroy(state);
}

GsmState MakeGsmState()
{
    return GsmState(gsm_create());
}

// libgsm works on host-order shorts; the wave buffers hold little-endian
// bytes, which is the host order on every machine this builds for, but the
// copy also keeps the buffers free of alignment demands.
void GsmEncodeFrame(gsm_state* encoder, const uint8_t* pcm, uint8_t* frame)
{
    gsm_signal samples[kGsmFrameSamples];
    std::memcpy(samples, pcm, sizeof samples);
    gsm_frame out;
    gsm_encode(encoder, samples, out);
    std::memcpy(frame, out, kGsmFrameBytes);
}

bool GsmDecodeFrame(gsm_state* decoder, const uint8_t* frame, uint8_t* pcm)
{
    gsm_frame in;
    std::memcpy(in, frame, kGsmFrameBytes);
    gsm_signal samples[kGsmFrameSamples];
    if (gsm_decode(decoder, in, samples) != 0)
        return false;
    std::memcpy(pcm, samples, sizeof samples);
    return true;
}

}  // namespace velnar
