// Shared pieces of the engine tests: an owner that records status texts, a
// phone on in-memory devices, an event pump, and tone helpers for checking
// sound by its frequency.
#pragma once

#include "engine/iax_phone.h"
#include "platform/doubles/fake_wave_device.h"
#include "tests/support/event_pump.h"
#include "tests/support/library_port.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velnar::test {

class RecordingOwner : public PhoneOwner {
public:
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    std::string Last() const { return statuses.empty() ? std::string() : statuses.back(); }
    // The texts shown since index `from`.
    std::vector<std::string> Since(size_t from) const;
    std::vector<std::string> statuses;
};

// The phone the tests build; a test that needs more derives its own.
class TestPhone : public CIaxPhone {
public:
    using CIaxPhone::CIaxPhone;

    size_t QueuedBlocks() const { return Playback().Size(); }
};

// A phone on an ephemeral port with fake devices the test keeps pointers to.
struct FakePhone {
    using Configure = std::function<void(FakeWaveIn&, FakeWaveOut&)>;
    using Make = std::function<std::unique_ptr<TestPhone>(PhoneOwner&, std::unique_ptr<WaveIn>,
                                                          std::unique_ptr<WaveOut>, int localPort)>;
    // configure runs on the devices before the phone opens them; make builds
    // a test's own kind of phone (a plain TestPhone when empty).
    explicit FakePhone(const Configure& configure = {}, const Make& make = {});
    RecordingOwner owner;
    FakeWaveIn* in = nullptr;    // owned by the phone
    FakeWaveOut* out = nullptr;  // owned by the phone
    std::unique_ptr<TestPhone> phone;
};

// Dial string for a peer listening on 127.0.0.1.
std::string DialStringFor(uint16_t port, const std::string& number = "100");

// 16-bit little-endian PCM of a sine tone at 8000 samples per second.
std::vector<uint8_t> TonePcm(double frequencyHz, size_t samples, double amplitude = 8000,
                             size_t startSample = 0);
// Power of one frequency in 16-bit little-endian PCM (Goertzel), normalised
// per sample.
double TonePower(const std::vector<uint8_t>& pcm, double frequencyHz, double sampleRate = 8000);
// The frequency among candidates whose power is strongest.
double StrongestOf(const std::vector<uint8_t>& pcm, const std::vector<double>& candidatesHz);

// GSM frames of a tone, made with the engine's codec helpers.
std::vector<uint8_t> GsmFramesOfTone(double frequencyHz, size_t frames);

}  // namespace velnar::test
