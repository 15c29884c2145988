#include "ui/call_info_line.h"

namespace velnar {

CallInfoLine::CallInfoLine(QWidget* parent) : QLabel(parent)
{
    setAccessibleDescription(QStringLiteral("Call information"));
    setTextFormat(Qt::PlainText);
}

void CallInfoLine::ShowCall(const CallFigures& figures)
{
    const QString text = figures.connected
                             ? QStringLiteral("Call time ") +
                                   QString::fromStdString(FormatDuration(figures.durationMs))
                             : QString();
    if (text != this->text())
        setText(text);
}

void CallInfoLine::ShowRinging(const QString& caller)
{
    const QString text = caller.isEmpty() ? QStringLiteral("Incoming call")
                                          : QStringLiteral("Incoming call from ") + caller;
    if (text != this->text())
        setText(text);
}

}  // namespace velnar
