// What only the sound-server devices promise: how the desktop sees their
// streams, silence on the event loop while there is no call, and an Open
// that finds no server.
#include "platform/pulse/pulse_wave_device.h"
#include "platform/pulse/pulse_wave_out.h"

#include "tests/platform/audio_server.h"
#include "tests/platform/capture_rig.h"
#include "tests/platform/server_test.h"
#include "tests/platform/tone.h"
#include "tests/support/pactl.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <vector>

namespace velnar {
namespace {

using test::WaitFor;

// The entries of `pactl list <kind>` that belong to the phone.
QStringList PhoneStreams(const QString& kind)
{
    QStringList phone;
    for (const QString& entry : test::Pactl({"list", kind}).value_or(QString()).split("\n\n"))
        if (entry.contains("application.name = \"Velnar\""))
            phone << entry;
    return phone;
}

// Times this thread was woken while its event loop ran for `ms`.
long WakeupsWhileIdle(int ms)
{
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_THREAD, &before);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    getrusage(RUSAGE_THREAD, &after);
    return (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
}

class PulseDeviceTest : public test::AudioServerTest {
protected:
    void SetUp() override
    {
        test::AudioServerTest::SetUp();
        if (IsSkipped())
            return;
        sink = std::make_unique<test::ScratchSink>();
        ASSERT_TRUE(sink->Loaded()) << "could not load a null sink";
    }

    std::unique_ptr<test::ScratchSink> sink;
};

TEST_F(PulseDeviceTest, StreamsCarryThePhonesNamesAndRestWhileThereIsNoCall)
{
    test::CaptureRig rig(MakePulseWaveIn());
    auto device = MakePulseWaveOut();
    auto& out = dynamic_cast<PulseWaveOut&>(*device);
    ASSERT_EQ(out.Open(), WaveOk);
    ASSERT_EQ(rig.Open(), WaveOk);
    // Between calls the capture stream is there but corked: it must not
    // have to connect anew at the next call's start.
    auto corkedCapture = [] {
        const QStringList capture = PhoneStreams("source-outputs");
        return capture.size() == 1 && capture[0].contains("Corked: yes");
    };
    EXPECT_TRUE(WaitFor(corkedCapture)) << "no corked capture stream before Start";

    // In a call: both streams run, named and iconed, with the phone's role.
    ASSERT_TRUE(rig.QueueAll());
    ASSERT_EQ(rig.In().Start(), WaveOk);
    std::vector<uint8_t> tone = test::SineBytes(440, 160 * 25, 8000);
    std::vector<WaveHeader> blocks(25);
    for (size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].data = tone.data() + 320 * i;
        blocks[i].bufferLength = 320;
        ASSERT_EQ(out.Prepare(&blocks[i]), WaveOk);
        ASSERT_EQ(out.Write(&blocks[i]), WaveOk);
    }
    ASSERT_TRUE(WaitFor([&] { return rig.ReturnedBuffers().size() >= 10; }));
    for (const QString& kind : {QString("sink-inputs"), QString("source-outputs")}) {
        SCOPED_TRACE(kind.toStdString());
        const QStringList streams = PhoneStreams(kind);
        ASSERT_EQ(streams.size(), 1);
        EXPECT_TRUE(streams[0].contains("media.role = \"phone\""));
        EXPECT_TRUE(streams[0].contains("application.icon_name = \"velnar\""));
        EXPECT_TRUE(streams[0].contains("Corked: no"));
    }

    // Hung up: capture stopped, the last blocks played out.
    ASSERT_EQ(rig.In().Stop(), WaveOk);
    ASSERT_EQ(rig.In().Reset(), WaveOk);
    ASSERT_TRUE(WaitFor([&] { return !out.IsRunning(); }))
        << "playback still runs after playing out";
    EXPECT_TRUE(std::all_of(blocks.begin(), blocks.end(),
                            [](const WaveHeader& h) { return h.flags & WaveDone; }));
    EXPECT_TRUE(WaitFor(corkedCapture)) << "capture stream not corked after the call";
    const QStringList playback = PhoneStreams("sink-inputs");
    ASSERT_EQ(playback.size(), 1);
    EXPECT_TRUE(playback[0].contains("Corked: yes"));
    EXPECT_LE(WakeupsWhileIdle(1000), 3) << "the event loop is woken while there is no call";
    EXPECT_EQ(out.Close(), WaveOk);
    EXPECT_EQ(rig.In().Close(), WaveOk);
}

TEST_F(PulseDeviceTest, OpenFindsNoServer)
{
    test::EnvOverride server("PULSE_SERVER", "unix:/nonexistent/velnar-no-server");
    auto in = MakePulseWaveIn();
    auto out = MakePulseWaveOut();
    EXPECT_EQ(in->Open([](WaveHeader*) {}), WaveErrNoDevice);
    EXPECT_EQ(out->Open(), WaveErrNoDevice);
    // What a phone without sound prints names the device and the reason.
    EXPECT_EQ(in->OpenFailure(), "sound server capture: Connection refused");
    EXPECT_EQ(out->OpenFailure(), "sound server playback: Connection refused");
}

}  // namespace
}  // namespace velnar
