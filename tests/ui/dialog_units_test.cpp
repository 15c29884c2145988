#include "ui/dialog_units.h"

#include <gtest/gtest.h>

namespace velnar {
namespace {

TEST(DialogUnitsTest, ConvertsWithQuarterWidthAndEighthHeight)
{
    // The classic 8-point dialog font at 96 dpi: 6 x 13 pixels.
    const DialogUnits units(6, 13);
    const struct {
        int units, x, y;
    } cases[] = {{0, 0, 0},    {4, 6, 7},       {8, 12, 13},    {14, 21, 23},
                 {50, 75, 81}, {167, 251, 271}, {222, 333, 361}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.units);
        EXPECT_EQ(units.ToPixelsX(c.units), c.x);
        EXPECT_EQ(units.ToPixelsY(c.units), c.y);
    }
}

TEST(DialogUnitsTest, AdjacentRectanglesStayAdjacent)
{
    const DialogUnits units(7, 15);
    // Two template rectangles that touch (x 21 + 16 = 37, next at 37).
    const QRect left = units.ToPixels(21, 56, 16, 14);
    const QRect right = units.ToPixels(37, 56, 16, 14);
    EXPECT_EQ(left.right() + 1, right.left());
    const QRect below = units.ToPixels(21, 70, 16, 14);
    EXPECT_EQ(left.bottom() + 1, below.top());
}

TEST(DialogUnitsTest, NonPositiveBaseUnitsAreTreatedAsOnePixel)
{
    const DialogUnits units(0, -3);
    EXPECT_EQ(units.CharWidthPx(), 1);
    EXPECT_EQ(units.CharHeightPx(), 1);
    EXPECT_EQ(units.ToPixelsX(8), 2);
    EXPECT_EQ(units.ToPixelsY(16), 2);
}

}  // namespace
}  // namespace velnar
