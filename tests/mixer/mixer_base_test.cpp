// CMixerBase on the in-memory mixer: how Init finds its line and control,
// what it reports when it cannot, and the shape of the value buffer.
#include "mixer/mixer_base.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/doubles/fake_mixer_device.h"

namespace velnar {
namespace {

// Exposes what Init filled in.
class BoundMixer : public CMixerBase {
public:
    using CMixerBase::CMixerBase;
    MixerHandle Handle() const { return m_hMixer; }
    const MixerControlDetails& Details() const { return m_Details; }
    const MixerControl& Control() const { return m_Control; }
    uint32_t LineChannels() const { return m_LineChannels; }
    const std::string& LineName() const { return m_LineName; }
    const std::string& DestLineName() const { return m_DestLineName; }
    uint32_t* Buffer() const { return m_Buffer.get(); }
};

struct Report {
    std::string context;
    std::string text;
};

class MixerBaseTest : public testing::Test {
protected:
    MixerBaseTest()
    {
        mixer.SetReportSink([this](const std::string& context, const std::string& text) {
            reports.push_back({context, text});
        });
    }

    bool InitVolume(uint32_t destType, uint32_t srcType)
    {
        return mixer.Init(destType, srcType, MIXERCONTROL_CONTROLTYPE_VOLUME, nullptr);
    }

    void ExpectOnlyReport(const std::string& context, const std::string& text)
    {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].context, context);
        EXPECT_EQ(reports[0].text, text);
    }

    std::shared_ptr<FakeMixerDevice> device = std::make_shared<FakeMixerDevice>();
    BoundMixer mixer{device};
    std::vector<Report> reports;
};

TEST_F(MixerBaseTest, NoMixerDeviceOpensNothing)
{
    device->deviceCount = 0;
    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ExpectOnlyReport("CMixerBase::Init", "No mixer device present");
    EXPECT_EQ(device->openCalls, 0);
    EXPECT_EQ(mixer.Handle(), 0u);
}

TEST_F(MixerBaseTest, DeviceThatCannotOpenLeavesNoHandle)
{
    device->failOpen = true;
    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ExpectOnlyReport("CMixerBase::Init", "Could not open mixer device");
    EXPECT_EQ(mixer.Handle(), 0u);
}

TEST_F(MixerBaseTest, DestinationItselfWhenNoSourceLine)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(line, MIXERCONTROL_CONTROLTYPE_MUTE, "Mute", 0, 1, 1);
    const uint32_t volume =
        device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0, 65535, 32);
    ASSERT_TRUE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(mixer.Control().dwControlID, volume);
    EXPECT_EQ(mixer.LineChannels(), 2u);
    EXPECT_EQ(mixer.LineName(), "Speakers");
    EXPECT_EQ(mixer.DestLineName(), "Speakers");
    EXPECT_EQ(mixer.Details().dwControlID, volume);
    EXPECT_EQ(mixer.Details().cChannels, 2u);
    EXPECT_EQ(mixer.Details().cbDetails, 4u);
    EXPECT_EQ(mixer.Details().paDetails, mixer.Buffer());
}

TEST_F(MixerBaseTest, LowestIndexWinsAmongLinesOfOneType)
{
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_HEADPHONES, "Headphones", 2);
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording", 2);
    const uint32_t second =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Other recording", 2);
    device->AddControl(second, MIXERCONTROL_CONTROLTYPE_VOLUME, "Other", 0, 65535, 32);
    device->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line in", 2);
    const uint32_t mic =
        device->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone", 1);
    const uint32_t mic2 =
        device->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone 2", 2);
    const uint32_t micVolume =
        device->AddControl(mic, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic", 0, 65535, 32);
    device->AddControl(mic2, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic 2", 0, 65535, 32);

    ASSERT_TRUE(
        InitVolume(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE));
    EXPECT_EQ(mixer.Control().dwControlID, micVolume);
    EXPECT_EQ(mixer.DestLineName(), "Recording");
    EXPECT_EQ(mixer.LineName(), "Microphone");
    EXPECT_EQ(mixer.LineChannels(), 1u);
    EXPECT_EQ(device->destinationsQueried, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(device->sourcesQueried, (std::vector<uint32_t>{0, 1}));
}

TEST_F(MixerBaseTest, FailingDestinationQueryEndsTheSearch)
{
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_HEADPHONES, "Headphones", 2);
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_LINE, "Line", 2);
    const uint32_t speakers =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0, 65535, 32);
    device->failDestinationQueryAt = 1;

    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ExpectOnlyReport(
        "CMixerBase::Init",
        "Warning: the destination line \nMIXERLINE_COMPONENTTYPE_DST_SPEAKERS\nwas not found.");
    EXPECT_EQ(device->destinationsQueried, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(device->OpenHandleCount(), 0u);
    EXPECT_EQ(mixer.Handle(), 0u);
}

TEST_F(MixerBaseTest, FailingDeviceCapsFindsNoDestination)
{
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->failDevCaps = true;
    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(device->destinationsQueried.empty());
    EXPECT_EQ(device->OpenHandleCount(), 0u);
}

TEST_F(MixerBaseTest, MissingOrUnreachableSourceIsReportedWithItsDestination)
{
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording Control", 2);
    device->AddSource(0, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line in", 2);
    const uint32_t cd = device->AddSource(0, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD", 2);
    const uint32_t mic =
        device->AddSource(0, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone", 1);
    device->AddControl(cd, MIXERCONTROL_CONTROLTYPE_VOLUME, "CD", 0, 65535, 32);
    device->AddControl(mic, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic", 0, 65535, 32);
    const std::string expected =
        "Warning: the source line \nMIXERLINE_COMPONENTTYPE_SRC_MICROPHONE\n not found.\n\n"
        "(Associated to Destination line \nRecording Control)";

    device->failSourceQueryAt = 1;
    EXPECT_FALSE(
        InitVolume(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE));
    ExpectOnlyReport("CMixerBase::Init", expected);
    EXPECT_EQ(device->sourcesQueried, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(device->OpenHandleCount(), 0u);

    reports.clear();
    device->failSourceQueryAt = -1;
    EXPECT_FALSE(
        InitVolume(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].text.find("MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER"), std::string::npos);
}

TEST_F(MixerBaseTest, LineWithoutControlsNamesTheLine)
{
    device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ExpectOnlyReport("CMixerBase::Init", "No controls available for this audio line: Speakers");
    EXPECT_EQ(device->OpenHandleCount(), 0u);
}

TEST_F(MixerBaseTest, MissingControlNamesControlAndBothLineTypes)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(line, MIXERCONTROL_CONTROLTYPE_MUTE, "Mute", 0, 1, 1);
    EXPECT_FALSE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    ExpectOnlyReport("CMixerBase::Init",
                     "Could not find specified mixer control. Associated Windows control will be "
                     "disabled.\nControl type: MIXERCONTROL_CONTROLTYPE_VOLUME,\n\nDest line type: "
                     "MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,\nSrc  line type: No source line\n");
    EXPECT_EQ(device->OpenHandleCount(), 0u);
    EXPECT_EQ(mixer.Buffer(), nullptr);
}

TEST_F(MixerBaseTest, UniformControlHasOneValueOnAStereoLine)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    const uint32_t volume = device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0,
                                               65535, 32, MIXERCONTROL_CONTROLF_UNIFORM);
    ASSERT_TRUE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    EXPECT_EQ(mixer.LineChannels(), 2u);
    EXPECT_EQ(mixer.Details().cChannels, 1u);
    device->Values(volume) = {1234};
    ASSERT_TRUE(mixer.GetMXDetails());
    EXPECT_EQ(mixer.Buffer()[0], 1234u);
}

TEST_F(MixerBaseTest, MultipleItemControlHasAValuePerChannelAndItem)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    const uint32_t eq = device->AddControl(line, MIXERCONTROL_CONTROLTYPE_EQUALIZER, "Equalizer", 0,
                                           65535, 32, MIXERCONTROL_CONTROLF_MULTIPLE, 3);
    ASSERT_TRUE(mixer.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                           MIXERCONTROL_CONTROLTYPE_EQUALIZER, nullptr));
    EXPECT_EQ(mixer.Details().cChannels, 2u);
    EXPECT_EQ(mixer.Details().cMultipleItems, 3u);
    device->Values(eq) = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(mixer.GetMXDetails());
    EXPECT_EQ(std::vector<uint32_t>(mixer.Buffer(), mixer.Buffer() + 6), device->Values(eq));

    for (uint32_t i = 0; i < 6; ++i)
        mixer.Buffer()[i] = 10 * (i + 1);
    ASSERT_TRUE(mixer.SetMXDetails());
    EXPECT_EQ(device->Values(eq), (std::vector<uint32_t>{10, 20, 30, 40, 50, 60}));
}

TEST_F(MixerBaseTest, BufferBeyondA32BitSizeIsAnAllocationError)
{
    // 2 channels x 2^31 items x 4 bytes cannot be described by a 32-bit size.
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(line, MIXERCONTROL_CONTROLTYPE_EQUALIZER, "Equalizer", 0, 65535, 32,
                       MIXERCONTROL_CONTROLF_MULTIPLE, 0x80000000u);
    EXPECT_FALSE(mixer.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                            MIXERCONTROL_CONTROLTYPE_EQUALIZER, nullptr));
    ExpectOnlyReport("CMixerBase::InitMXDetails", "Memory allocation error.");
    EXPECT_EQ(device->OpenHandleCount(), 0u);
    EXPECT_EQ(mixer.Buffer(), nullptr);
}

TEST_F(MixerBaseTest, OnlyPublishedUnitsAreAccepted)
{
    const struct {
        uint32_t controlType;
        bool accepted;
    } cases[] = {
        {MIXERCONTROL_CONTROLTYPE_CUSTOM, false},           // custom units
        {MIXERCONTROL_CT_CLASS_FADER | 0x00060000, false},  // units past the last
        {MIXERCONTROL_CONTROLTYPE_MUTE, true},              // boolean
        {MIXERCONTROL_CONTROLTYPE_SIGNED, true},
        {MIXERCONTROL_CONTROLTYPE_VOLUME, true},  // unsigned
        {MIXERCONTROL_CONTROLTYPE_DECIBELS, true},
        {MIXERCONTROL_CONTROLTYPE_PERCENT, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.controlType);
        auto localDevice = std::make_shared<FakeMixerDevice>();
        const uint32_t line =
            localDevice->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
        localDevice->AddControl(line, c.controlType, "Control", 0, 100, 10);
        BoundMixer local(localDevice);
        std::vector<Report> localReports;
        local.SetReportSink([&](const std::string& context, const std::string& text) {
            localReports.push_back({context, text});
        });
        EXPECT_EQ(local.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE, c.controlType,
                             nullptr),
                  c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(localReports.empty());
            EXPECT_EQ(localDevice->OpenHandleCount(), 1u);
        } else {
            ASSERT_EQ(localReports.size(), 1u);
            EXPECT_EQ(localReports[0].context, "CMixerBase::InitMXDetails");
            EXPECT_EQ(localReports[0].text, "Control uses unknown units.");
            EXPECT_EQ(localDevice->OpenHandleCount(), 0u);
            EXPECT_EQ(local.Buffer(), nullptr);
        }
    }
}

TEST_F(MixerBaseTest, InitTwiceClosesTheFirstHandleBeforeOpeningAgain)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0, 65535, 32);
    ASSERT_TRUE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    const MixerHandle first = mixer.Handle();
    ASSERT_TRUE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    EXPECT_NE(mixer.Handle(), first);
    EXPECT_FALSE(device->IsOpen(first));
    EXPECT_EQ(device->mostHandlesOpen, 1u);
    EXPECT_EQ(device->OpenHandleCount(), 1u);
}

TEST_F(MixerBaseTest, ValuesMoveOnlyWhileBound)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    const uint32_t volume =
        device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0, 65535, 32);
    ASSERT_TRUE(InitVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE));
    device->failGetDetails = true;
    EXPECT_FALSE(mixer.GetMXDetails());
    device->failSetDetails = true;
    EXPECT_FALSE(mixer.SetMXDetails());
    EXPECT_TRUE(reports.empty());  // read and write failures are silent

    mixer.CloseMixer();
    EXPECT_EQ(device->OpenHandleCount(), 0u);
    EXPECT_EQ(mixer.Buffer(), nullptr);
    device->failGetDetails = device->failSetDetails = false;
    const int calls = device->getDetailsCalls + device->setDetailsCalls;
    EXPECT_FALSE(mixer.GetMXDetails());
    EXPECT_FALSE(mixer.SetMXDetails());
    EXPECT_EQ(device->getDetailsCalls + device->setDetailsCalls, calls);
    EXPECT_EQ(device->Values(volume), (std::vector<uint32_t>{0, 0}));
}

TEST_F(MixerBaseTest, DestructionReleasesTheHandle)
{
    const uint32_t line =
        device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
    device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 0, 65535, 32);
    {
        BoundMixer scoped(device);
        ASSERT_TRUE(scoped.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                                MIXERCONTROL_CONTROLTYPE_VOLUME, nullptr));
        EXPECT_EQ(device->OpenHandleCount(), 1u);
    }
    EXPECT_EQ(device->OpenHandleCount(), 0u);
}

TEST(MixerReport, SilentUnlessDiagnosticsAreAsked)
{
    CMixerBase mixer(std::make_shared<FakeMixerDevice>());
    unsetenv("VELNAR_MIXER_DEBUG");
    testing::internal::CaptureStderr();
    mixer.MixerReport("CMixerBase::Init", "No controls available for this audio line: %s",
                      "Speakers");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    setenv("VELNAR_MIXER_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    mixer.MixerReport("CMixerBase::Init", "No controls available for this audio line: %s",
                      "Speakers");
    const std::string printed = testing::internal::GetCapturedStderr();
    unsetenv("VELNAR_MIXER_DEBUG");
    EXPECT_NE(printed.find("CMixerBase::Init"), std::string::npos);
    EXPECT_NE(printed.find("No controls available for this audio line: Speakers"),
              std::string::npos);
}

}  // namespace
}  // namespace velnar
