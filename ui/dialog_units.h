// Dialog units: the templates' coordinate system. A horizontal unit is a
// quarter of the font's average character width and a vertical unit an
// eighth of its character height, so a dialog laid out in these units keeps
// its proportions with whatever font the desktop uses.
#pragma once

#include <QRect>
#include <QSize>

class QFont;
class QWidget;

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

// Places a text control (label, group title) at rect, widened to its text
// when the desktop's font needs more room than the template gave it: the
// templates were sized for a narrower font, and a clipped label reads worse
// than one that runs into the gap after it.
void PlaceText(QWidget* text, const QRect& rect);

}  // namespace velnar
