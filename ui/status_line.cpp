#include "ui/status_line.h"

#include "ui/status_line_accessible.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>

namespace velnar {

StatusLine::StatusLine(const QString& text, QWidget* parent) : QLabel(parent)
{
    StatusLineAccessible::Install();
    setText(text);
    setToolTip(text);
}

// Every text is announced, also one equal to the last: each is news.
void StatusLine::ShowText(const QString& text)
{
    const QString previous = this->text();
    setText(text);
    setToolTip(text);
    QAccessibleTextUpdateEvent event(this, 0, previous, text);
    QAccessible::updateAccessibility(&event);
}

QRect StatusLine::TextRect() const
{
    // The same inset a plain label uses: its margin, and with a frame half
    // an "x" on the side the text is aligned to.
    QRect rect = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int inset = indent();
    if (inset < 0 && frameWidth() > 0)
        inset = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (inset > 0) {
        const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
        if (align & Qt::AlignLeft)
            rect.setLeft(rect.left() + inset);
        else if (align & Qt::AlignRight)
            rect.setRight(rect.right() - inset);
    }
    return rect;
}

QString StatusLine::ShownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, TextRect().width());
}

void StatusLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, TextRect(),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

}  // namespace velnar
