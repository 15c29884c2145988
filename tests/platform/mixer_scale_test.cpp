// Raw sound-card volumes against 0..65535 mixer values: every step of the
// control survives a write and a read, whatever the card's raw range.
#include "platform/mixer_scale.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace velnar {
namespace {

struct RawRange {
    long minimum;
    long maximum;
};

void PrintTo(const RawRange& range, std::ostream* out)
{
    *out << "raw " << range.minimum << ".." << range.maximum;
}

class MixerScaleTest : public testing::TestWithParam<RawRange> {};

TEST_P(MixerScaleTest, EveryStepReadsBackAsWritten)
{
    const auto [rawMin, rawMax] = GetParam();
    const uint32_t steps = MixerStepCount(rawMin, rawMax);
    ASSERT_GT(steps, 0u);
    ASSERT_LE(steps, kMixerValueMax);
    const uint32_t stepUnits = kMixerValueMax / steps;
    long previousRaw = rawMin - 1;
    for (uint32_t step = 0; step <= steps; ++step) {
        const uint32_t value = step * stepUnits;
        const long raw = MixerValueToRaw(value, rawMin, rawMax);
        ASSERT_GE(raw, rawMin);
        ASSERT_LE(raw, rawMax);
        ASSERT_GT(raw, previousRaw) << "step " << step;  // distinct steps stay distinct
        previousRaw = raw;
        ASSERT_EQ(RawToMixerValue(raw, rawMin, rawMax), value) << "step " << step;
    }
    EXPECT_EQ(MixerValueToRaw(0, rawMin, rawMax), rawMin);
    EXPECT_EQ(MixerValueToRaw(kMixerValueMax, rawMin, rawMax), rawMax);
    EXPECT_EQ(RawToMixerValue(rawMax, rawMin, rawMax) / stepUnits, steps);
}

TEST_P(MixerScaleTest, OutOfRangeValuesAreClamped)
{
    const auto [rawMin, rawMax] = GetParam();
    EXPECT_EQ(MixerValueToRaw(UINT32_MAX, rawMin, rawMax), rawMax);
    EXPECT_EQ(RawToMixerValue(rawMin - 50, rawMin, rawMax), 0u);
    EXPECT_EQ(RawToMixerValue(rawMax + 50, rawMin, rawMax),
              RawToMixerValue(rawMax, rawMin, rawMax));
}

INSTANTIATE_TEST_SUITE_P(RawRanges, MixerScaleTest,
                         testing::Values(RawRange{0, 1}, RawRange{0, 31}, RawRange{0, 127},
                                         RawRange{0, 255}, RawRange{0, 256}, RawRange{-10239, 400},
                                         RawRange{0, 65535}, RawRange{0, 65536},
                                         RawRange{0, 1000000}),
                         [](const testing::TestParamInfo<RawRange>& info) {
                             const long low = info.param.minimum;
                             return (low < 0 ? "minus" + std::to_string(-low)
                                             : std::to_string(low)) +
                                    "to" + std::to_string(info.param.maximum);
                         });

// On cards with fewer steps than mixer units, a value between two steps is
// written as the nearer one.
TEST(MixerScale, ValuesBetweenStepsLandOnTheNearestStep)
{
    for (const RawRange range : {RawRange{0, 31}, RawRange{0, 255}, RawRange{-10239, 400}}) {
        SCOPED_TRACE(range.maximum);
        const uint32_t stepUnits = kMixerValueMax / MixerStepCount(range.minimum, range.maximum);
        const auto roundTrip = [&](uint32_t value) {
            return RawToMixerValue(MixerValueToRaw(value, range.minimum, range.maximum),
                                   range.minimum, range.maximum);
        };
        EXPECT_EQ(roundTrip(5 * stepUnits + stepUnits / 4), 5 * stepUnits);
        EXPECT_EQ(roundTrip(5 * stepUnits + 3 * stepUnits / 4), 6 * stepUnits);
    }
}

TEST(MixerScale, EmptyRangeHasNoSteps)
{
    EXPECT_EQ(MixerStepCount(5, 5), 0u);
    EXPECT_EQ(MixerStepCount(9, 5), 0u);
    EXPECT_EQ(RawToMixerValue(5, 5, 5), 0u);
    EXPECT_EQ(MixerValueToRaw(1000, 5, 5), 5);
}

}  // namespace
}  // namespace velnar
