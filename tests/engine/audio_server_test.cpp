// The whole pipeline on the private PulseAudio server, through each of the
// two sound backends: a tone played into the "mic" sink is captured, gated, GSM-encoded, sent to a
// server that echoes it, decoded, played and recorded from
// "speaker.monitor", where it must come back at its frequency.
#include "tests/engine/engine_harness.h"

#include "platform/audio_devices.h"
#include "tests/engine/peer_await.h"
#include "tests/platform/audio_server.h"
#include "tests/support/echo_peer_process.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/scripted_server.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>

namespace velnar {
namespace {

using test::DialStringFor;
using test::EchoPeerProcess;
using test::PumpUntil;
using test::RecordingOwner;
using test::StrongestOf;
using test::TestPhone;
using test::TonePcm;
using test::TonePower;

constexpr size_t kWindowBytes = 8000;  // half a second of 8000-Hz 16-bit mono

QStringList RawFormat()
{
    return {"--format=s16le", "--rate=8000", "--channels=1", "--raw"};
}

// The parameter is the backend, as the device picker names it.
class AudioServer : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no test audio server: source tools/test-audio-env.sh first";
        if (QStandardPaths::findExecutable("pacat").isEmpty())
            GTEST_SKIP() << "pacat is not installed";
    }
    void TearDown() override
    {
        for (QProcess* process : {&player, &recorder}) {
            process->kill();
            process->waitForFinished(2000);
        }
    }

    // Plays a tone of the given length into the "mic" sink.
    void PlayIntoMic(double frequencyHz, double seconds)
    {
        player.start("pacat", QStringList{"--playback", "--device=mic"} + RawFormat());
        ASSERT_TRUE(player.waitForStarted(5000));
        auto pcm = TonePcm(frequencyHz, size_t(8000 * seconds), 8000);
        player.write(reinterpret_cast<const char*>(pcm.data()), qint64(pcm.size()));
        player.closeWriteChannel();
    }

    void RecordSpeaker()
    {
        recorder.start("pacat", QStringList{"--record", "--device=speaker.monitor"} + RawFormat());
        ASSERT_TRUE(recorder.waitForStarted(5000));
        QObject::connect(&recorder, &QProcess::readyReadStandardOutput, [this] {
            QByteArray bytes = recorder.readAllStandardOutput();
            recorded.insert(recorded.end(), bytes.begin(), bytes.end());
        });
    }

    // True once the last half second recorded carries the tone clearly.
    bool HeardTone(double frequencyHz, const std::vector<double>& candidatesHz)
    {
        if (recorded.size() < kWindowBytes)
            return false;
        std::vector<uint8_t> window(recorded.end() - kWindowBytes, recorded.end());
        lastStrongest = StrongestOf(window, candidatesHz);
        lastPower = TonePower(window, frequencyHz);
        // A sine of amplitude 1000 has a normalised power of 250000.
        return lastStrongest == frequencyHz && lastPower > 250000;
    }

    // The devices the program would make for the backend under test.
    AudioDevices Devices() const { return MakeAudioDevices(GetParam()); }

    QProcess player;
    QProcess recorder;
    std::vector<uint8_t> recorded;
    double lastStrongest = 0;
    double lastPower = 0;
};

TEST_P(AudioServer, ToneIntoTheMicComesBackOutOfTheSpeakerThroughAnEchoServer)
{
    EchoPeerProcess server;
    ASSERT_NE(server.Port(), 0);
    RecordingOwner owner;
    AudioDevices devices = Devices();
    TestPhone phone(owner, std::move(devices.waveIn), std::move(devices.waveOut), -1);
    phone.m_nNoiseThreshold = 1;
    RecordSpeaker();
    PlayIntoMic(1000, 6);

    phone.Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil([&] { return phone.IsTalking(); }, 5000)) << server.Output();
    const std::vector<double> candidates = {400, 700, 1000, 1300, 1800};
    bool heard = PumpUntil([&] { return HeardTone(1000, candidates); }, 5000);
    EXPECT_TRUE(heard) << "strongest " << lastStrongest << " Hz, power at 1000 Hz " << lastPower
                       << ", " << recorded.size() << " bytes recorded";
    phone.HangUp();
    EXPECT_EQ(owner.Last(), "Ready");
    EXPECT_TRUE(PumpUntil([&] { return server.Said("HANGUP"); })) << server.Output();
    EXPECT_FALSE(server.Said(", 0 voice frames echoed")) << server.Output();
}

TEST_P(AudioServer, QuietMicSendsNothingAtTheDefaultThreshold)
{
    EchoPeerProcess server;
    ASSERT_NE(server.Port(), 0);
    RecordingOwner owner;
    AudioDevices devices = Devices();
    TestPhone phone(owner, std::move(devices.waveIn), std::move(devices.waveOut), -1);
    phone.Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil([&] { return phone.IsTalking(); }, 5000)) << server.Output();
    // A silent null sink's monitor yields buffers of level 0, withheld at 1.
    // Once 15 buffers have come back, a touch tone shows the server has read
    // everything sent before it.
    uint32_t firstSeq = phone.Capture().NextSequence();
    ASSERT_TRUE(PumpUntil([&] { return phone.Capture().NextSequence() > firstSeq + 15; }, 5000));
    phone.SendTones("4");
    phone.HangUp();
    ASSERT_TRUE(PumpUntil([&] { return server.Said("HANGUP"); })) << server.Output();
    EXPECT_TRUE(server.Said("touch tone '4'")) << server.Output();
    EXPECT_TRUE(server.Said(", 0 voice frames echoed")) << server.Output();
}

// The sound server goes away in the middle of a call and comes back: the
// devices failed during that call, and the next call must capture and play
// again.
TEST_P(AudioServer, NextCallCapturesAndPlaysAfterTheServerRestarts)
{
    test::PrivateAudioServer audio(/*micAndSpeaker=*/true);
    ASSERT_TRUE(audio.Running()) << "could not start a private audio server";
    EchoPeerProcess server;
    ASSERT_NE(server.Port(), 0);
    RecordingOwner owner;
    AudioDevices devices = Devices();
    TestPhone phone(owner, std::move(devices.waveIn), std::move(devices.waveOut), -1);
    phone.m_nNoiseThreshold = 1;
    auto talking = [&] { return phone.IsTalking(); };
    auto never = [] { return false; };

    phone.Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil(talking, 5000)) << server.Output();
    PumpUntil(never, 300);
    audio.Kill();
    PumpUntil(never, 1500);  // the call goes on without its devices
    ASSERT_TRUE(audio.Restart()) << "the audio server did not come back";
    PumpUntil(never, 300);
    phone.HangUp();
    ASSERT_TRUE(PumpUntil([&] { return server.Said("HANGUP"); })) << server.Output();

    RecordSpeaker();
    PlayIntoMic(1000, 6);
    phone.Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil(talking, 5000)) << server.Output();
    const std::vector<double> candidates = {400, 700, 1000, 1300, 1800};
    const bool heard = PumpUntil([&] { return HeardTone(1000, candidates); }, 5000);
    EXPECT_TRUE(heard) << "strongest " << lastStrongest << " Hz, power at 1000 Hz " << lastPower
                       << ", " << recorded.size() << " bytes recorded";
    phone.HangUp();
    EXPECT_EQ(owner.Last(), "Ready");
}

// The far end keeps talking while the sound server goes away and comes
// back: playback comes back within the same call.
TEST_P(AudioServer, PlaybackComesBackDuringTheCallOnceTheServerIsBack)
{
    test::PrivateAudioServer audio(/*micAndSpeaker=*/true);
    ASSERT_TRUE(audio.Running()) << "could not start a private audio server";
    iaxpeer::IaxTestPeer peer;
    peer.SetAutoAck(true);
    RecordingOwner owner;
    AudioDevices devices = Devices();
    TestPhone phone(owner, std::move(devices.waveIn), std::move(devices.waveOut), -1);
    phone.Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(test::AwaitIax(peer, iaxpeer::kNew)) << peer.LastError();
    peer.SendIax(iaxpeer::kAccept, "formats=2;", true);
    // 1000 Hz is a whole number of cycles per frame: the frames join up.
    const std::vector<uint8_t> frame = test::GsmFramesOfTone(1000, 1);
    auto talkFor = [&](int ms) {
        for (int elapsed = 0; elapsed < ms; elapsed += 20) {
            peer.SendVoice(kGsmFormat, frame);
            PumpUntil([] { return false; }, 20);
        }
    };

    talkFor(500);
    audio.Kill();
    talkFor(1500);
    ASSERT_TRUE(audio.Restart()) << "the audio server did not come back";
    RecordSpeaker();
    const std::vector<double> candidates = {400, 700, 1000, 1300, 1800};
    bool heard = false;
    for (int second = 0; second < 5 && !heard; ++second) {
        talkFor(1000);
        heard = HeardTone(1000, candidates);
    }
    EXPECT_TRUE(heard) << "strongest " << lastStrongest << " Hz, power at 1000 Hz " << lastPower
                       << ", " << recorded.size() << " bytes recorded";
    phone.HangUp();
}

// The same for capture: what the microphone hears is sent again within the
// same call.
TEST_P(AudioServer, CaptureComesBackDuringTheCallOnceTheServerIsBack)
{
    test::PrivateAudioServer audio(/*micAndSpeaker=*/true);
    ASSERT_TRUE(audio.Running()) << "could not start a private audio server";
    iaxpeer::ScriptedServer server;
    RecordingOwner owner;
    AudioDevices devices = Devices();
    TestPhone phone(owner, std::move(devices.waveIn), std::move(devices.waveOut), -1);
    phone.m_nNoiseThreshold = 1;
    auto never = [] { return false; };
    phone.Dial(DialStringFor(server.Port()));
    ASSERT_TRUE(PumpUntil([&] { return phone.IsTalking(); }, 5000)) << server.Log();

    audio.Kill();
    PumpUntil(never, 1500);
    ASSERT_TRUE(audio.Restart()) << "the audio server did not come back";
    PlayIntoMic(1000, 8);
    PumpUntil(never, 500);
    const int before = server.VoiceFramesReceived();
    EXPECT_TRUE(PumpUntil([&] { return server.VoiceFramesReceived() > before + 50; }, 5000))
        << server.VoiceFramesReceived() - before << " frames sent after the server came back";
    EXPECT_TRUE(phone.IsInCall());
    phone.HangUp();
}

INSTANTIATE_TEST_SUITE_P(Backends, AudioServer, testing::Values("alsa", "pulse"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
}  // namespace velnar
