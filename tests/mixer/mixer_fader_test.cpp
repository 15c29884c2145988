// CMixerFader on the in-memory mixer: the arithmetic between slider and
// mixer, the sub-types, the vertical inversion, the refusals of Init, and
// user actions on the real widget (keys, wheel, mouse) ending in writes.
#include "mixer/mixer_fader.h"

#include <gtest/gtest.h>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>

#include <memory>
#include <string>
#include <vector>

#include "platform/doubles/fake_mixer_device.h"

namespace velnar {
namespace {

struct Report {
    std::string context;
    std::string text;
};

using Values = std::vector<uint32_t>;

class FaderTest : public testing::Test {
protected:
    FaderTest() { Watch(fader); }

    void Watch(CMixerFader& target)
    {
        target.SetReportSink([this](const std::string& context, const std::string& text) {
            reports.push_back({context, text});
        });
    }

    // A speakers line with a volume control; returns the control's ID.
    uint32_t AddSpeakers(uint32_t channels, uint32_t minimum = 0, uint32_t maximum = 65535,
                         uint32_t steps = 32, uint32_t flags = 0)
    {
        const uint32_t line =
            device->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", channels);
        return device->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Master Volume", minimum,
                                  maximum, steps, flags);
    }

    bool InitSpeakers(int32_t subType)
    {
        return fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                          MIXERCONTROL_CONTROLTYPE_VOLUME, subType);
    }

    // Moves the slider as the user would: one key press.
    void Press(Qt::Key key) { QTest::keyClick(&fader, key); }

    std::shared_ptr<FakeMixerDevice> device = std::make_shared<FakeMixerDevice>();
    CMixerFader fader{device};
    std::vector<Report> reports;
};

TEST_F(FaderTest, SliderStepsFollowTheControlsStepCount)
{
    const uint32_t volume = AddSpeakers(1);
    device->Values(volume) = {65535};
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_TRUE(fader.isEnabled());
    EXPECT_EQ(fader.minimum(), 0);
    EXPECT_EQ(fader.maximum(), 32);
    EXPECT_EQ(fader.value(), 32);  // 65535 / 2047

    fader.SetSliderPos(16);
    EXPECT_EQ(fader.GetSliderValue(), 32752);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), Values{32752});
}

TEST_F(FaderTest, MainKeepsTheBalanceOfAStereoLine)
{
    const uint32_t volume = AddSpeakers(2);
    device->Values(volume) = {30000, 60000};
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_EQ(fader.value(), 29);  // the louder channel: 60000 / 2047

    fader.SetSliderPos(21);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), (Values{21 * 2047 / 2, 21 * 2047}));

    device->ChangeValues(volume, {60000, 15000});  // left louder now
    device->DeliverNotifications();
    fader.SetSliderPos(8);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), (Values{8 * 2047, 8 * 2047 / 4}));
}

TEST_F(FaderTest, MainWithSilentChannelsWritesBothAlike)
{
    const uint32_t volume = AddSpeakers(2);
    device->Values(volume) = {0, 0};
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_EQ(fader.value(), 0);
    fader.SetSliderPos(10);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), (Values{20470, 20470}));
}

TEST_F(FaderTest, BalanceMiddleAndEnds)
{
    // Span 1024 in 8 steps of 128: half of the span is position 4.
    const uint32_t volume = AddSpeakers(2, 0, 1024, 8);
    device->Values(volume) = {800, 400};
    ASSERT_TRUE(InitSpeakers(CMixerFader::BALANCE));
    EXPECT_EQ(fader.value(), 2);  // balance -0.5: (1 - 0.5) * 8 / 2

    const struct {
        int position;
        Values written;
    } cases[] = {
        {4, {800, 800}},                                  // middle: both at the louder level
        {0, {800, 0}},                                    // left end silences the right channel
        {2, {800, 400}}, {6, {400, 800}}, {8, {0, 800}},  // right end silences the left channel
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        device->Values(volume) = {800, 800};
        ASSERT_TRUE(fader.GetMXDetails());
        fader.SetSliderPos(c.position);
        fader.SetFaderValue();
        EXPECT_EQ(device->Values(volume), c.written);
    }
}

TEST_F(FaderTest, BalanceIgnoresSilence)
{
    const uint32_t volume = AddSpeakers(2, 0, 1024, 8);
    device->Values(volume) = {0, 0};
    fader.setRange(0, 8);
    ASSERT_TRUE(InitSpeakers(CMixerFader::BALANCE));
    EXPECT_EQ(fader.value(), 4);  // left where Init centred it
    EXPECT_EQ(device->setDetailsCalls, 0);
}

TEST_F(FaderTest, LeftAndRightTouchOnlyTheirChannel)
{
    const uint32_t volume = AddSpeakers(2);
    device->Values(volume) = {4094, 65535};
    ASSERT_TRUE(InitSpeakers(CMixerFader::LEFT));
    EXPECT_EQ(fader.value(), 2);
    fader.SetSliderPos(5);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), (Values{10235, 65535}));

    CMixerFader right(device);
    ASSERT_TRUE(right.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                           MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::RIGHT));
    EXPECT_EQ(right.value(), 32);
    right.SetSliderPos(1);
    right.SetFaderValue();
    EXPECT_EQ(device->Values(volume), (Values{10235, 2047}));
}

TEST_F(FaderTest, VerticalFaderHasItsMaximumAtTheTop)
{
    const uint32_t volume = AddSpeakers(1);
    device->Values(volume) = {65535};
    fader.setOrientation(Qt::Vertical);
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_EQ(fader.value(), 0);  // stored position 0 is the top end
    EXPECT_EQ(fader.GetSliderValue(), 32 * 2047);

    device->ChangeValues(volume, {10 * 2047});
    device->DeliverNotifications();
    EXPECT_EQ(fader.value(), 22);

    Press(Qt::Key_Up);  // up is louder
    EXPECT_EQ(device->Values(volume), Values{11 * 2047});
    EXPECT_EQ(fader.value(), 21);
}

TEST_F(FaderTest, OneChannelLineTakesOnlyMain)
{
    for (int32_t subType : {CMixerFader::LEFT, CMixerFader::RIGHT, CMixerFader::BALANCE}) {
        SCOPED_TRACE(subType);
        auto mono = std::make_shared<FakeMixerDevice>();
        const uint32_t line =
            mono->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 1);
        mono->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Master Volume", 0, 65535, 32);
        CMixerFader local(mono);
        local.setValue(7);
        std::vector<Report> localReports;
        local.SetReportSink([&](const std::string& c, const std::string& t) {
            localReports.push_back({c, t});
        });

        EXPECT_FALSE(local.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                                MIXERCONTROL_CONTROLTYPE_VOLUME, subType));
        EXPECT_FALSE(local.isEnabled());
        EXPECT_EQ(mono->OpenHandleCount(), 0u);
        ASSERT_EQ(localReports.size(), 1u);
        EXPECT_EQ(localReports[0].context, "CMixerFader::Init");
        EXPECT_EQ(
            localReports[0].text,
            "Only one channel available on this line. Use Fader type MAIN only.\nWindows control "
            "will be disabled.\n\nItem: Master Volume.\n\n( Line: Speakers )");
        if (subType == CMixerFader::BALANCE) {
            EXPECT_EQ(local.value(), 16);
        }
        EXPECT_EQ(mono->setDetailsCalls, 0);
    }
}

TEST_F(FaderTest, UniformControlCountsAsOneChannel)
{
    const uint32_t volume = AddSpeakers(2, 0, 65535, 32, MIXERCONTROL_CONTROLF_UNIFORM);
    device->Values(volume) = {20470};
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_EQ(fader.value(), 10);
    fader.SetSliderPos(12);
    fader.SetFaderValue();
    EXPECT_EQ(device->Values(volume), Values{24564});

    CMixerFader balance(device);
    EXPECT_FALSE(balance.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                              MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::BALANCE));
}

TEST_F(FaderTest, NonFaderControlsAndUnknownSubTypesAreRefusedBeforeTheMixer)
{
    AddSpeakers(2);
    fader.setEnabled(true);
    EXPECT_FALSE(fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                            MIXERCONTROL_CONTROLTYPE_MUTE, CMixerFader::MAIN));
    EXPECT_FALSE(fader.isEnabled());
    EXPECT_FALSE(InitSpeakers(4));
    EXPECT_FALSE(InitSpeakers(-1));
    EXPECT_EQ(device->openCalls, 0);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].text,
              "Wrong control type for a fader control: MIXERCONTROL_CONTROLTYPE_MUTE");
    EXPECT_EQ(reports[1].text, "Wrong sub-type for a fader control: 4");
    EXPECT_EQ(reports[2].text, "Wrong sub-type for a fader control: -1");
    for (const Report& report : reports)
        EXPECT_EQ(report.context, "CMixerFader::Init");
}

TEST_F(FaderTest, ScrollsBeforeInitAreReportedAndIgnored)
{
    AddSpeakers(2);
    fader.HScroll(TB_ENDTRACK, 3);
    fader.VScroll(TB_THUMBTRACK, 3);
    Press(Qt::Key_Right);  // a user action on the unbound slider
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].context, "CMixerFader::HScroll");
    EXPECT_EQ(reports[1].context, "CMixerFader::VScroll");
    EXPECT_EQ(reports[2].context, "CMixerFader::HScroll");
    for (const Report& report : reports)
        EXPECT_EQ(report.text, "Error: Did you call Init() first?");
    EXPECT_EQ(device->openCalls, 0);
}

TEST_F(FaderTest, UnusableStepCountsLeaveTheSliderDisabled)
{
    const struct {
        uint32_t minimum, maximum, steps;
    } cases[] = {
        {0, 65535, 0},   // no steps
        {0, 10, 11},     // more steps than units: step size 0
        {100, 100, 1},   // empty span
        {200, 100, 10},  // bounds the wrong way round
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        auto local = std::make_shared<FakeMixerDevice>();
        const uint32_t line =
            local->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers", 2);
        const uint32_t volume = local->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume",
                                                  c.minimum, c.maximum, c.steps);
        CMixerFader guarded(local);
        guarded.SetReportSink([](const std::string&, const std::string&) {});
        EXPECT_FALSE(guarded.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                                  MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN));
        EXPECT_FALSE(guarded.isEnabled());
        EXPECT_EQ(local->OpenHandleCount(), 0u);
        local->ChangeValues(volume, {5, 5});
        local->DeliverNotifications();
        guarded.HScroll(TB_ENDTRACK, 0);
        EXPECT_EQ(local->setDetailsCalls, 0);
    }
}

TEST_F(FaderTest, FailedFirstReadBindsButStaysDisabled)
{
    AddSpeakers(2);
    device->failGetDetails = true;
    EXPECT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_FALSE(fader.isEnabled());
    EXPECT_TRUE(reports.empty());
}

TEST_F(FaderTest, LineWithoutChannelsIsNotBound)
{
    AddSpeakers(0);
    EXPECT_FALSE(InitSpeakers(CMixerFader::MAIN));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "m_Value NULL.");
    EXPECT_EQ(device->OpenHandleCount(), 0u);
}

TEST_F(FaderTest, MixerChangesMoveTheSliderWithoutWritingBack)
{
    const uint32_t volume = AddSpeakers(2);
    const uint32_t other =
        device->AddControl(0xFFFF0000u, MIXERCONTROL_CONTROLTYPE_BASS, "Bass", 0, 65535, 32);
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));

    device->ChangeValues(volume, {20470, 10235});
    EXPECT_EQ(fader.value(), 0);  // notifications arrive later, as posted
    EXPECT_EQ(device->DeliverNotifications(), 1u);
    EXPECT_EQ(fader.value(), 10);

    device->ChangeValues(other, {65535, 65535});
    device->DeliverNotifications();
    EXPECT_EQ(fader.value(), 10);  // another control's change is not ours
    EXPECT_EQ(device->setDetailsCalls, 0);
    EXPECT_EQ(device->Values(volume), (Values{20470, 10235}));
}

TEST_F(FaderTest, TwoFadersOnOneControlFollowEachOther)
{
    const uint32_t volume = AddSpeakers(2);
    CMixerFader second(device);
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    ASSERT_TRUE(second.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                            MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN));
    Press(Qt::Key_End);
    device->DeliverNotifications();
    EXPECT_EQ(device->Values(volume), (Values{65504, 65504}));
    EXPECT_EQ(second.value(), 32);
    EXPECT_EQ(fader.value(), 32);
    EXPECT_EQ(device->setDetailsCalls, 1);  // read-backs wrote nothing
}

TEST_F(FaderTest, KeysAndWheelEndWithTheMixerWritten)
{
    const uint32_t volume = AddSpeakers(1);
    device->Values(volume) = {16 * 2047};
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    EXPECT_EQ(fader.pageStep(), 3);

    const struct {
        Qt::Key key;
        uint32_t position;
    } keys[] = {
        {Qt::Key_Right, 17},    {Qt::Key_Left, 16}, {Qt::Key_PageUp, 19},
        {Qt::Key_PageDown, 16}, {Qt::Key_End, 32},  {Qt::Key_Home, 0},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        Press(k.key);
        EXPECT_EQ(device->Values(volume), Values{k.position * 2047});
    }

    const QPointF centre(fader.width() / 2.0, fader.height() / 2.0);
    QWheelEvent wheel(centre, fader.mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&fader, &wheel);
    EXPECT_GT(fader.value(), 0);
    EXPECT_EQ(device->Values(volume), Values{static_cast<uint32_t>(fader.value()) * 2047});
}

QPoint HandleCentre(const QSlider& slider)
{
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = slider.orientation();
    option.maximum = slider.maximum();
    option.minimum = slider.minimum();
    option.upsideDown = slider.orientation() == Qt::Horizontal ? slider.invertedAppearance()
                                                               : !slider.invertedAppearance();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.singleStep = slider.singleStep();
    option.pageStep = slider.pageStep();
    return slider.style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider)
        .center();
}

TEST_F(FaderTest, DraggingWritesAsItMovesAndOnRelease)
{
    const uint32_t volume = AddSpeakers(1);
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    fader.resize(400, 30);
    fader.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fader));

    const QPoint start = HandleCentre(fader);
    QTest::mousePress(&fader, Qt::LeftButton, Qt::NoModifier, start);
    ASSERT_TRUE(fader.isSliderDown());
    QTest::mouseMove(&fader, start + QPoint(100, 0));
    const int dragged = fader.value();
    EXPECT_GT(dragged, 0);
    EXPECT_EQ(device->Values(volume), Values{static_cast<uint32_t>(dragged) * 2047});
    const int writesWhileHeld = device->setDetailsCalls;
    EXPECT_GE(writesWhileHeld, 1);

    QTest::mouseMove(&fader, start + QPoint(200, 0));
    EXPECT_GT(fader.value(), dragged);
    QTest::mouseRelease(&fader, Qt::LeftButton, Qt::NoModifier, start + QPoint(200, 0));
    EXPECT_FALSE(fader.isSliderDown());
    EXPECT_GT(device->setDetailsCalls, writesWhileHeld);
    EXPECT_EQ(device->Values(volume), Values{static_cast<uint32_t>(fader.value()) * 2047});
}

TEST_F(FaderTest, PageClickOnTheGrooveWritesTheNewPosition)
{
    const uint32_t volume = AddSpeakers(2);
    ASSERT_TRUE(InitSpeakers(CMixerFader::MAIN));
    fader.resize(400, 30);
    fader.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fader));

    QTest::mouseClick(&fader, Qt::LeftButton, Qt::NoModifier,
                      QPoint(fader.width() - 5, fader.height() / 2));
    EXPECT_FALSE(fader.isSliderDown());
    EXPECT_EQ(fader.value(), fader.pageStep());
    const uint32_t written = static_cast<uint32_t>(fader.pageStep()) * 2047;
    EXPECT_EQ(device->Values(volume), (Values{written, written}));
}

TEST_F(FaderTest, DestructionReleasesTheMixer)
{
    const uint32_t volume = AddSpeakers(2);
    {
        CMixerFader scoped(device);
        ASSERT_TRUE(scoped.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                                MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN));
        device->ChangeValues(volume, {1, 1});  // queued for a fader that goes away
    }
    EXPECT_EQ(device->OpenHandleCount(), 0u);
    EXPECT_EQ(device->DeliverNotifications(), 0u);
}

}  // namespace
}  // namespace velnar
