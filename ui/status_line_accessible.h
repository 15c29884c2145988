// What assistive technology sees of the status line: a read-only text
// object holding the whole status text, however much of it the line paints.
// Its text interface lets the line announce each new text with the text
// itself (a name change alone makes a screen reader ask afterwards, and of
// several texts set in a row it would hear only the last).
#pragma once

#include <QAccessibleWidget>

namespace velnar {

class StatusLine;

class StatusLineAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit StatusLineAccessible(StatusLine* line);

    // Makes the toolkit use this interface for every status line.
    static void Install();

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // Text interface: the whole text, with no caret and no selection.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QString WholeText() const;
};

}  // namespace velnar
