// The printable names of the mixer's published codes: every known control
// and line type by its constant's name, anything else as unknown.
#include "mixer/mixer_base.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ios>

namespace velnar {
namespace {

TEST(MixerTypeNames, PublishedCodesNameTheirConstants)
{
    const struct {
        uint32_t code;
        const char* name;
    } controls[] = {
        {0x00000000, "MIXERCONTROL_CONTROLTYPE_CUSTOM"},
        {0x10010000, "MIXERCONTROL_CONTROLTYPE_BOOLEANMETER"},
        {0x10020000, "MIXERCONTROL_CONTROLTYPE_SIGNEDMETER"},
        {0x10020001, "MIXERCONTROL_CONTROLTYPE_PEAKMETER"},
        {0x10030000, "MIXERCONTROL_CONTROLTYPE_UNSIGNEDMETER"},
        {0x20010000, "MIXERCONTROL_CONTROLTYPE_BOOLEAN"},
        {0x20010001, "MIXERCONTROL_CONTROLTYPE_ONOFF"},
        {0x20010002, "MIXERCONTROL_CONTROLTYPE_MUTE"},
        {0x20010003, "MIXERCONTROL_CONTROLTYPE_MONO"},
        {0x20010004, "MIXERCONTROL_CONTROLTYPE_LOUDNESS"},
        {0x20010005, "MIXERCONTROL_CONTROLTYPE_STEREOENH"},
        {0x21010000, "MIXERCONTROL_CONTROLTYPE_BUTTON"},
        {0x30020000, "MIXERCONTROL_CONTROLTYPE_SIGNED"},
        {0x30030000, "MIXERCONTROL_CONTROLTYPE_UNSIGNED"},
        {0x30040000, "MIXERCONTROL_CONTROLTYPE_DECIBELS"},
        {0x30050000, "MIXERCONTROL_CONTROLTYPE_PERCENT"},
        {0x40020000, "MIXERCONTROL_CONTROLTYPE_SLIDER"},
        {0x40020001, "MIXERCONTROL_CONTROLTYPE_PAN"},
        {0x40020002, "MIXERCONTROL_CONTROLTYPE_QSOUNDPAN"},
        {0x50030000, "MIXERCONTROL_CONTROLTYPE_FADER"},
        {0x50030001, "MIXERCONTROL_CONTROLTYPE_VOLUME"},
        {0x50030002, "MIXERCONTROL_CONTROLTYPE_BASS"},
        {0x50030003, "MIXERCONTROL_CONTROLTYPE_TREBLE"},
        {0x50030004, "MIXERCONTROL_CONTROLTYPE_EQUALIZER"},
        {0x60030000, "MIXERCONTROL_CONTROLTYPE_MICROTIME"},
        {0x61030000, "MIXERCONTROL_CONTROLTYPE_MILLITIME"},
        {0x70010000, "MIXERCONTROL_CONTROLTYPE_SINGLESELECT"},
        {0x70010001, "MIXERCONTROL_CONTROLTYPE_MUX"},
        {0x71010000, "MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT"},
        {0x71010001, "MIXERCONTROL_CONTROLTYPE_MIXER"},
        {0x50030005, "---- UNKNOWN CONTROL TYPE ----"},
        {0xFFFFFFFF, "---- UNKNOWN CONTROL TYPE ----"},
    };
    for (const auto& c : controls)
        EXPECT_STREQ(CMixerBase::ControlTypeName(c.code), c.name) << std::hex << c.code;

    const struct {
        uint32_t code;
        const char* name;
    } lines[] = {
        {0, "MIXERLINE_COMPONENTTYPE_DST_UNDEFINED"},
        {4, "MIXERLINE_COMPONENTTYPE_DST_SPEAKERS"},
        {7, "MIXERLINE_COMPONENTTYPE_DST_WAVEIN"},
        {8, "MIXERLINE_COMPONENTTYPE_DST_VOICEIN"},
        {9, "---- UNKNOWN LINE TYPE ----"},
        {4096, "MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED"},
        {4099, "MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE"},
        {4106, "MIXERLINE_COMPONENTTYPE_SRC_ANALOG"},
        {4107, "No source line"},
        {4108, "---- UNKNOWN LINE TYPE ----"},
    };
    for (const auto& l : lines)
        EXPECT_STREQ(CMixerBase::LineTypeName(l.code), l.name) << l.code;
}

}  // namespace
}  // namespace velnar
