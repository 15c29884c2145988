#include "tests/engine/engine_harness.h"

#include "engine/gsm_codec.h"
#include "iax/iax.h"

#include "tests/support/sine_tone.h"

#include <cmath>
#include <numbers>

namespace velnar::test {

std::vector<std::string> RecordingOwner::Since(size_t from) const
{
    if (from >= statuses.size())
        return {};
    return {statuses.begin() + static_cast<std::ptrdiff_t>(from), statuses.end()};
}

FakePhone::FakePhone(const Configure& configure, const Make& make)
{
    auto waveIn = std::make_unique<FakeWaveIn>();
    auto waveOut = std::make_unique<FakeWaveOut>();
    if (configure)
        configure(*waveIn, *waveOut);
    in = waveIn.get();
    out = waveOut.get();
    if (make)
        phone = make(owner, std::move(waveIn), std::move(waveOut), -1);
    else
        phone = std::make_unique<TestPhone>(owner, std::move(waveIn), std::move(waveOut), -1);
}

std::string DialStringFor(uint16_t port, const std::string& number)
{
    return "127.0.0.1:" + std::to_string(port) + "/" + number;
}

std::vector<uint8_t> TonePcm(double frequencyHz, size_t samples, double amplitude,
                             size_t startSample)
{
    return SineBytes(frequencyHz, samples, amplitude, startSample);
}

double TonePower(const std::vector<uint8_t>& pcm, double frequencyHz, double sampleRate)
{
    size_t samples = pcm.size() / 2;
    if (samples == 0)
        return 0;
    double coefficient = 2 * std::cos(2 * std::numbers::pi * frequencyHz / sampleRate);
    double previous = 0, beforePrevious = 0;
    for (size_t i = 0; i < samples; ++i) {
        auto sample = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    double power = previous * previous + beforePrevious * beforePrevious -
                   coefficient * previous * beforePrevious;
    return power / double(samples) / double(samples);
}

double StrongestOf(const std::vector<uint8_t>& pcm, const std::vector<double>& candidatesHz)
{
    double best = 0, bestPower = -1;
    for (double frequency : candidatesHz) {
        double power = TonePower(pcm, frequency);
        if (power > bestPower) {
            bestPower = power;
            best = frequency;
        }
    }
    return best;
}

std::vector<uint8_t> GsmFramesOfTone(double frequencyHz, size_t frames)
{
    GsmState encoder = MakeGsmState();
    std::vector<uint8_t> out(frames * kGsmFrameBytes);
    for (size_t i = 0; i < frames; ++i) {
        auto pcm = TonePcm(frequencyHz, kGsmFrameSamples, 8000, i * kGsmFrameSamples);
        GsmEncodeFrame(encoder.get(), pcm.data(), out.data() + i * kGsmFrameBytes);
    }
    return out;
}

}  // namespace velnar::test
