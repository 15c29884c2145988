// The main dialog's status line: a sunken label of fixed size that holds the
// whole status text (as its text and its tooltip) and paints as much of it as
// fits, ending in "…" where it is cut.
#pragma once

#include <QLabel>
#include <QString>

namespace velnar {

class StatusLine : public QLabel {
    Q_OBJECT
public:
    StatusLine(const QString& text, QWidget* parent = nullptr);

    // Sets the text and the tooltip to the whole of text, and tells
    // assistive technology the new text.
    void ShowText(const QString& text);
    // What the line paints at its present width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect TextRect() const;
};

}  // namespace velnar
