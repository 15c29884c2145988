#include "mixer/mixer_fader.h"

#include <algorithm>
#include <utility>

namespace velnar {

namespace {

constexpr const char* kInitContext = "CMixerFader::Init";
constexpr const char* kWrongSubType = "Wrong sub-type for a fader control.";

}  // namespace

CMixerFader::CMixerFader(std::shared_ptr<MixerDevice> device, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), CMixerBase(std::move(device))
{
    // Dragging ends with the release; the last position is written then.
    connect(this, &QSlider::sliderReleased, this, [this] { OnUserAction(TB_ENDTRACK); });
}

CMixerFader::~CMixerFader()
{
    OnDestroy();
}

void CMixerFader::OnDestroy()
{
    CloseMixer();
    m_Value = nullptr;
}

bool CMixerFader::IsVertical() const
{
    return orientation() == Qt::Vertical;
}

uint32_t CMixerFader::ValueChannels() const
{
    // A uniform control holds one value whatever the line's channel count.
    return m_Details.cChannels;
}

void CMixerFader::SetRangeQuietly(int minimum, int maximum)
{
    const bool wasFromMixer = std::exchange(m_positionFromMixer, true);
    setRange(minimum, maximum);
    m_positionFromMixer = wasFromMixer;
}

void CMixerFader::SetStoredPosQuietly(int position)
{
    const bool wasFromMixer = std::exchange(m_positionFromMixer, true);
    setValue(position);
    m_positionFromMixer = wasFromMixer;
}

bool CMixerFader::Init(uint32_t destType, uint32_t srcType, uint32_t controlType, int32_t subType)
{
    setEnabled(false);
    // As on a track bar, a vertical slider's smallest stored position is at
    // the top, and the keys and the wheel move the thumb the way they point.
    setInvertedAppearance(IsVertical());
    setInvertedControls(IsVertical());
    if (subType == BALANCE)
        SetStoredPosQuietly((maximum() - minimum()) / 2);
    if ((controlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_FADER) {
        MixerReport(kInitContext, "Wrong control type for a fader control: %s",
                    ControlTypeName(controlType));
        return false;
    }
    if (subType < LEFT || subType > BALANCE) {
        MixerReport(kInitContext, "Wrong sub-type for a fader control: %d", subType);
        return false;
    }
    m_SubType = subType;
    m_Value = nullptr;

    auto notify = [this](MixerHandle mixer, uint32_t controlId) {
        OnMixerControlChange(mixer, controlId);
    };
    if (!CMixerBase::Init(destType, srcType, controlType, notify))
        return false;

    m_Span = static_cast<int32_t>(m_Control.dwMaximum - m_Control.dwMinimum);
    m_Steps = m_Control.cSteps;
    // A control without steps, with more steps than mixer units, or with
    // bounds that give no positive span cannot be shown: its step size would
    // divide by zero.
    m_StepSize = (m_Span > 0 && m_Steps) ? static_cast<uint32_t>(m_Span) / m_Steps : 0;
    if (m_StepSize == 0) {
        MixerReport(kInitContext,
                    "Control has no usable step size: span %d, %u steps.\n\nItem: %s.", m_Span,
                    m_Steps, m_Control.szName.c_str());
        CloseMixer();
        return false;
    }
    SetRangeQuietly(0, static_cast<int>(m_Steps));
    // Keys and the wheel move by 1 % and pages by 10 % of the range, however
    // fine the control's steps are.
    setSingleStep(static_cast<int>(std::max<uint32_t>(1, m_Steps / 100)));
    setPageStep(static_cast<int>(std::max<uint32_t>(1, m_Steps / 10)));

    if (ValueChannels() < 2 && m_SubType != MAIN) {
        MixerReport(kInitContext,
                    "Only one channel available on this line. Use Fader type MAIN only.\nWindows "
                    "control will be disabled.\n\nItem: %s.\n\n( Line: %s )",
                    m_Control.szName.c_str(), m_LineName.c_str());
        if (m_SubType == BALANCE)
            SetSliderPos(static_cast<int32_t>(m_Steps / 2));
        CloseMixer();
        return false;
    }
    m_Value = m_Buffer.get();
    if (!m_Value) {
        MixerReport(kInitContext, "m_Value NULL.");
        CloseMixer();
        return false;
    }
    if (GetMXDetails()) {
        setEnabled(true);
        SetHVSliderPos();
    }
    return true;
}

int32_t CMixerFader::GetSliderValue() const
{
    int position = value();
    if (IsVertical())
        position = static_cast<int>(m_Steps) - position;
    return static_cast<int32_t>(static_cast<uint32_t>(position) * m_StepSize);
}

void CMixerFader::SetSliderPos(int32_t position)
{
    SetStoredPosQuietly(IsVertical() ? static_cast<int32_t>(m_Steps) - position : position);
}

void CMixerFader::SetHVSliderPos()
{
    if (!m_Value || m_StepSize == 0)
        return;
    const uint32_t left = m_Value[0];
    uint32_t loudest = left;
    if (ValueChannels() > 1) {
        const uint32_t right = m_Value[1];
        loudest = std::max(left, right);
        if (loudest > 0)
            m_Balance = (static_cast<float>(right) - static_cast<float>(left)) /
                        static_cast<float>(loudest);
    }
    const float stepSize = static_cast<float>(m_StepSize);
    switch (m_SubType) {
    case MAIN: SetSliderPos(static_cast<int32_t>(static_cast<float>(loudest) / stepSize)); break;
    case BALANCE:
        if (loudest > 0)
            SetSliderPos(static_cast<int32_t>((m_Balance + 1) * static_cast<float>(m_Steps) * 0.5));
        break;
    case LEFT: SetSliderPos(static_cast<int32_t>(static_cast<float>(left) / stepSize)); break;
    case RIGHT:
        SetSliderPos(static_cast<int32_t>(static_cast<float>(m_Value[1]) / stepSize));
        break;
    default: MixerReport("CMixerFader::SetHVSliderPos", kWrongSubType); break;
    }
}

void CMixerFader::SetFaderValue()
{
    if (!m_Value)
        return;
    const int32_t v = GetSliderValue();
    const bool twoChannels = ValueChannels() > 1;
    const float level =
        static_cast<float>(twoChannels ? std::max(m_Value[0], m_Value[1]) : m_Value[0]);
    uint32_t& left = m_Value[0];
    switch (m_SubType) {
    case MAIN:
        if (!twoChannels) {
            left = static_cast<uint32_t>(v);
        } else if (m_Balance > 0) {
            m_Value[1] = static_cast<uint32_t>(v);
            left = static_cast<uint32_t>((1 - m_Balance) * static_cast<float>(v));
        } else {
            left = static_cast<uint32_t>(v);
            m_Value[1] = static_cast<uint32_t>((1 + m_Balance) * static_cast<float>(v));
        }
        break;
    case BALANCE: {
        const float span = static_cast<float>(m_Span);
        if (v > m_Span / 2) {
            m_Value[1] = static_cast<uint32_t>(level);
            left = static_cast<uint32_t>((1 - static_cast<float>(v) / span) * 2 * level);
        } else {
            m_Value[1] = static_cast<uint32_t>(static_cast<float>(v) * level * 2 / span);
            left = static_cast<uint32_t>(level);
        }
        break;
    }
    case LEFT: left = static_cast<uint32_t>(v); break;
    case RIGHT: m_Value[1] = static_cast<uint32_t>(v); break;
    default: MixerReport("CMixerFader::SetFaderValue", kWrongSubType); return;
    }
    SetMXDetails();
}

void CMixerFader::HScroll(int scrollCode, int /*thumbPosition*/)
{
    Scroll("CMixerFader::HScroll", scrollCode);
}

void CMixerFader::VScroll(int scrollCode, int /*thumbPosition*/)
{
    Scroll("CMixerFader::VScroll", scrollCode);
}

void CMixerFader::OnUserAction(int scrollCode)
{
    if (IsVertical())
        VScroll(scrollCode, value());
    else
        HScroll(scrollCode, value());
}

void CMixerFader::Scroll(const char* context, int scrollCode)
{
    if (!m_Value) {
        MixerReport(context, "Error: Did you call Init() first?");
        return;
    }
    switch (scrollCode) {
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_THUMBTRACK:
    case TB_ENDTRACK: SetFaderValue(); break;
    default: break;
    }
}

void CMixerFader::sliderChange(SliderChange change)
{
    QSlider::sliderChange(change);
    if (change != SliderValueChange || m_positionFromMixer)
        return;
    // A user action moved the slider: while the thumb is held it tracks,
    // otherwise (key, wheel, page click) the action is complete.
    OnUserAction(isSliderDown() ? TB_THUMBTRACK : TB_ENDTRACK);
}

long CMixerFader::OnMixerControlChange(MixerHandle mixer, uint32_t controlId)
{
    if (m_Value && controlId == m_Control.dwControlID && mixer == m_hMixer && GetMXDetails())
        SetHVSliderPos();
    return 0;
}

}  // namespace velnar
