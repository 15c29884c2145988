#include "ui/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>

namespace velnar {

namespace {

// The average width of the 52 Latin letters, rounded: the measure dialog
// templates were designed against, wider than QFontMetrics::averageCharWidth
// for most fonts because it ignores narrow punctuation.
int AverageLetterWidthPx(const QFontMetrics& metrics)
{
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int total = metrics.horizontalAdvance(letters);
    return (total / 26 + 1) / 2;
}

// Rounds value * numerator / denominator to the nearest integer, halves away
// from zero.
int ScaleRounded(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
    : DialogUnits(AverageLetterWidthPx(QFontMetrics(font)), QFontMetrics(font).height())
{}

DialogUnits::DialogUnits(int charWidthPx, int charHeightPx)
    : m_charWidthPx(charWidthPx > 0 ? charWidthPx : 1),
      m_charHeightPx(charHeightPx > 0 ? charHeightPx : 1)
{}

int DialogUnits::ToPixelsX(int units) const
{
    return ScaleRounded(units, m_charWidthPx, 4);
}

int DialogUnits::ToPixelsY(int units) const
{
    return ScaleRounded(units, m_charHeightPx, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const
{
    // Both edges are converted, so that adjacent controls stay adjacent
    // after rounding.
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    return QRect(left, top, ToPixelsX(x + width) - left, ToPixelsY(y + height) - top);
}

QSize DialogUnits::ToPixels(QSize units) const
{
    return QSize(ToPixelsX(units.width()), ToPixelsY(units.height()));
}

void PlaceText(QWidget* text, const QRect& rect)
{
    QRect placed = rect;
    const QSize needed = text->sizeHint();
    if (needed.width() > placed.width())
        placed.setWidth(needed.width());
    text->setGeometry(placed);
}

}  // namespace velnar
