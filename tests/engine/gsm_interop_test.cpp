// The engine's GSM frames against an independent implementation: sox's GSM
// encoder and decoder. Frames sox encodes must play in the engine, and the
// frames the engine sends must decode in sox, each at the tone's frequency.
#include "tests/engine/engine_harness.h"
#include "tests/engine/peer_await.h"
#include "tests/support/iax_test_peer.h"

#include "engine/gsm_codec.h"
#include "iax/iax.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace velnar {
namespace {

using namespace iaxpeer;
using test::AwaitAck;
using test::AwaitFull;
using test::AwaitIax;
using test::AwaitVoice;
using test::DialStringFor;
using test::FakePhone;
using test::PumpBriefly;
using test::PumpUntil;
using test::StrongestOf;

const std::vector<double> kCandidatesHz = {300, 450, 600, 800, 1100, 1500, 2000};

bool RunSox(const QStringList& arguments, std::string& errors)
{
    QProcess sox;
    sox.start("sox", arguments);
    if (!sox.waitForFinished(20000) || sox.exitStatus() != QProcess::NormalExit ||
        sox.exitCode() != 0) {
        errors = sox.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

std::vector<uint8_t> ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

bool WriteFile(const QString& path, const std::vector<uint8_t>& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

uint32_t StillTicks()
{
    return 5000;
}

class GsmInterop : public testing::Test {
protected:
    void TearDown() override { IaxSetTickSource(nullptr); }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("sox").isEmpty())
            GTEST_SKIP() << "sox is not installed";
        ASSERT_TRUE(dir.isValid());
    }
    QString Path(const char* name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

TEST_F(GsmInterop, FramesEncodedBySoxPlayInTheEngineAtTheirFrequency)
{
    for (int frequencyHz : {450, 1100}) {
        std::string errors;
        ASSERT_TRUE(RunSox({"-n", "-r", "8000", "-c", "1", "-b", "16", Path("tone.wav"), "synth",
                            "0.5", "sine", QString::number(frequencyHz), "vol", "0.3"},
                           errors))
            << errors;
        ASSERT_TRUE(RunSox({Path("tone.wav"), "-t", "gsm", Path("tone.gsm")}, errors)) << errors;
        auto frames = ReadFile(Path("tone.gsm"));
        ASSERT_EQ(frames.size() % kGsmFrameBytes, 0u);
        ASSERT_GE(frames.size(), 20 * kGsmFrameBytes);

        // On a frozen clock each frame is handed over as soon as it arrives.
        IaxSetTickSource(StillTicks);
        IaxTestPeer peer;
        peer.SetClock(StillTicks);
        peer.SetAutoAck(true);
        FakePhone fp;
        fp.phone->Dial(DialStringFor(peer.Port()));
        ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
        peer.SendIax(kAccept, "formats=2;", true);
        std::vector<uint8_t> played;
        for (size_t offset = 0; offset < frames.size(); offset += kGsmFrameBytes) {
            auto at = frames.begin() + std::ptrdiff_t(offset);
            FullHeader sent = peer.SendVoice(kGsmFormat, {at, at + std::ptrdiff_t(kGsmFrameBytes)});
            ASSERT_TRUE(AwaitAck(peer, sent)) << peer.LastError();
            PumpBriefly();
            fp.out->PlayAll();
        }
        for (const auto& block : fp.out->Written())
            played.insert(played.end(), block.begin(), block.end());
        ASSERT_EQ(played.size(), frames.size() / kGsmFrameBytes * kPcmFrameBytes);
        EXPECT_EQ(StrongestOf(played, kCandidatesHz), frequencyHz);
    }
}

TEST_F(GsmInterop, FramesTheEngineSendsDecodeInSoxAtTheirFrequency)
{
    IaxTestPeer peer;
    peer.SetAutoAck(true);
    FakePhone fp;
    fp.phone->Dial(DialStringFor(peer.Port()));
    ASSERT_TRUE(AwaitIax(peer, kNew)) << peer.LastError();
    peer.SendIax(kAccept, "formats=2;", true);
    peer.SendControl(kAnswer);
    ASSERT_TRUE(PumpUntil([&] { return fp.phone->IsTalking(); }));

    const int frequencyHz = 800;
    const size_t frameCount = 40;
    std::vector<uint8_t> sent;
    for (size_t i = 0; i < frameCount; ++i) {
        auto pcm = test::TonePcm(frequencyHz, kGsmFrameSamples, 6000, i * kGsmFrameSamples);
        ASSERT_TRUE(fp.in->Deliver(pcm));
        auto voice = AwaitVoice(peer);
        ASSERT_TRUE(voice) << peer.LastError();
        ASSERT_EQ(voice->payload.size(), kGsmFrameBytes);
        sent.insert(sent.end(), voice->payload.begin(), voice->payload.end());
    }
    ASSERT_TRUE(WriteFile(Path("sent.gsm"), sent));
    std::string errors;
    ASSERT_TRUE(RunSox({"-t", "gsm", "-r", "8000", Path("sent.gsm"), "-t", "raw", "-e", "signed",
                        "-b", "16", "-L", Path("sent.raw")},
                       errors))
        << errors;
    auto decoded = ReadFile(Path("sent.raw"));
    ASSERT_EQ(decoded.size(), frameCount * kPcmFrameBytes);
    std::vector<uint8_t> settled(decoded.begin() + 5 * kPcmFrameBytes, decoded.end());
    EXPECT_EQ(StrongestOf(settled, kCandidatesHz), frequencyHz);
}

}  // namespace
}  // namespace velnar
