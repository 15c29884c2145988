#include "platform/pulse/pulse_wave_device.h"

#include "platform/pulse/pulse_wave_in.h"
#include "platform/pulse/pulse_wave_out.h"

namespace velnar {

std::unique_ptr<WaveIn> MakePulseWaveIn()
{
    return std::make_unique<PulseWaveIn>();
}

std::unique_ptr<WaveOut> MakePulseWaveOut()
{
    return std::make_unique<PulseWaveOut>();
}

}  // namespace velnar
