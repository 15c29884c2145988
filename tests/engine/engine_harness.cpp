#include "tests/engine/engine_harness.h"

#include "engine/gsm_codec.h"
#include "iax/iax.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <sys/socket.h>

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

// A ticking timer makes sure the blocking wait wakes up to look at the
// condition and the deadline even when nothing else happens.
bool PumpUntil(const std::function<bool()>& done, int maxWaitMs)
{
    QDeadlineTimer deadline(maxWaitMs);
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpBriefly()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

uint16_t LibraryPort()
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(IaxSocketHandle(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

std::string DialStringFor(uint16_t port, const std::string& number)
{
    return "127.0.0.1:" + std::to_string(port) + "/" + number;
}

std::vector<uint8_t> TonePcm(double frequencyHz, size_t samples, double amplitude,
                             size_t startSample)
{
    std::vector<uint8_t> pcm(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        double phase = 2 * std::numbers::pi * frequencyHz * double(i + startSample) / 8000.0;
        auto value = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
        pcm[2 * i] = static_cast<uint8_t>(value & 0xFF);
        pcm[2 * i + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    }
    return pcm;
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
