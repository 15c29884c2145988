#include "platform/alsa/alsa_wave_device.h"

#include "platform/alsa/alsa_wave_in.h"
#include "platform/alsa/alsa_wave_out.h"

namespace velnar {

namespace {
constexpr const char* kDefaultPcm = "default";
}

std::unique_ptr<WaveIn> MakeAlsaWaveIn()
{
    return MakeAlsaWaveIn(kDefaultPcm);
}

std::unique_ptr<WaveOut> MakeAlsaWaveOut()
{
    return MakeAlsaWaveOut(kDefaultPcm);
}

std::unique_ptr<WaveIn> MakeAlsaWaveIn(const std::string& pcmName)
{
    return std::make_unique<AlsaWaveIn>(pcmName);
}

std::unique_ptr<WaveOut> MakeAlsaWaveOut(const std::string& pcmName)
{
    return std::make_unique<AlsaWaveOut>(pcmName);
}

}  // namespace velnar
