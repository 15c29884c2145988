// Dialog units: the templates' coordinate system. A horizontal unit is a
// quarter of the font's average character width and a vertical unit an
// eighth of its character height, so a dialog laid out in these units keeps
// its proportions with whatever font the desktop uses.
#pragma once

#include <QRect>
#include <QSize>

class QFont;

namespace velnar {

class DialogUnits {
public:
    // Base units (average character width and character height, in pixels)
    // measured from font.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int charWidthPx, int charHeightPx);

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(QSize units) const;

    int CharWidthPx() const { return m_charWidthPx; }
    int CharHeightPx() const { return m_charHeightPx; }

private:
    int m_charWidthPx;
    int m_charHeightPx;
};

}  // namespace velnar
