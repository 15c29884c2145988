// CMixerFader: a slider bound to one fader-class control of the sound card's
// mixer (a line's volume), both ways. Moving the slider writes the mixer; a
// change of the mixer made anywhere (another program, the desktop's volume
// panel, this fader itself) moves the slider. It works on the left channel,
// the right channel, both (MAIN: the louder channel, keeping the balance) or
// the balance between them.
//
// Slider position and mixer value: value = position * m_StepSize,
// position = value / m_StepSize. A vertical fader stores m_Steps minus the
// position and shows its minimum stored value at the top, so that the top
// end is the loudest. Choose the orientation before Init.
//
// Every user action (dragging, page clicks, arrow keys, the wheel) ends with
// the mixer written; dragging writes as the thumb moves. Positions set
// because the mixer changed never write back.
#pragma once

#include <QSlider>
#include <cstdint>
#include <memory>

#include "mixer/mixer_base.h"
#include "platform/mixer_device.h"

namespace velnar {

class CMixerFader : public QSlider, public CMixerBase {
    Q_OBJECT

public:
    enum SubType : int32_t { LEFT = 0, RIGHT = 1, MAIN = 2, BALANCE = 3 };

    // Horizontal, bound to nothing yet; Init binds it to a control of the
    // given mixer device (none: Init fails and the slider stays disabled).
    explicit CMixerFader(std::shared_ptr<MixerDevice> device, QWidget* parent = nullptr);
    ~CMixerFader() override;

    // True when bound and enabled. On false the slider stays disabled.
    bool Init(uint32_t destType, uint32_t srcType, uint32_t controlType, int32_t subType);

    void SetHVSliderPos();           // mixer to slider
    void SetFaderValue();            // slider to mixer
    int32_t GetSliderValue() const;  // logical position * m_StepSize
    void SetSliderPos(int32_t position);

    // Scroll notifications (TB_* codes); user actions on the slider arrive here.
    void HScroll(int scrollCode, int thumbPosition);
    void VScroll(int scrollCode, int thumbPosition);

    long OnMixerControlChange(MixerHandle mixer, uint32_t controlId);
    // Releases the mixer binding; also done on destruction.
    void OnDestroy();

protected:
    void sliderChange(SliderChange change) override;

private:
    void OnUserAction(int scrollCode);
    void Scroll(const char* context, int scrollCode);
    void SetRangeQuietly(int minimum, int maximum);
    void SetStoredPosQuietly(int position);
    bool IsVertical() const;
    uint32_t ValueChannels() const;

    int32_t m_Span = 0;
    uint32_t m_StepSize = 0;
    uint32_t m_Steps = 0;
    int32_t m_SubType = MAIN;
    float m_Balance = 0.0f;
    uint32_t* m_Value = nullptr;

    bool m_positionFromMixer = false;  // set while the program moves the slider
};

}  // namespace velnar
