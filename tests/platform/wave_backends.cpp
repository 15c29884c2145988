#include "wave_backends.h"

#include "platform/alsa/alsa_wave_device.h"
#include "platform/alsa/alsa_wave_in.h"
#include "platform/alsa/alsa_wave_out.h"
#include "platform/pulse/pulse_wave_device.h"
#include "platform/pulse/pulse_wave_in.h"
#include "platform/pulse/pulse_wave_out.h"

#include "audio_server.h"

#include <ctime>

namespace velnar::test {

namespace {

const WaveBackend kAlsa{"Alsa", [] { return MakeAlsaWaveIn(); }, [] { return MakeAlsaWaveOut(); }};
const WaveBackend kPulse{"Pulse", [] { return MakePulseWaveIn(); },
                         [] { return MakePulseWaveOut(); }};

}  // namespace

const WaveBackend& WaveBackendNamed(const std::string& name)
{
    return name == kPulse.name ? kPulse : kAlsa;
}

bool IsFailed(const WaveIn& in)
{
    if (auto* alsa = dynamic_cast<const AlsaWaveIn*>(&in))
        return alsa->IsFailed();
    return dynamic_cast<const PulseWaveIn&>(in).IsFailed();
}

bool IsFailed(const WaveOut& out)
{
    if (auto* alsa = dynamic_cast<const AlsaWaveOut*>(&out))
        return alsa->IsFailed();
    return dynamic_cast<const PulseWaveOut&>(out).IsFailed();
}

double CpuMsWhileWaiting(int ms)
{
    auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
    };
    const double before = cpuMs();
    WaitFor([] { return false; }, ms);
    return cpuMs() - before;
}

}  // namespace velnar::test
