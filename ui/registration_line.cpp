#include "ui/registration_line.h"

namespace velnar {

RegistrationLine::RegistrationLine(QWidget* parent) : QLabel(parent)
{
    setAccessibleName(QStringLiteral("Registration"));
    setTextFormat(Qt::PlainText);
}

void RegistrationLine::ShowState(const QString& state)
{
    if (state == text())
        return;
    setText(state);
    // The name stays put for whoever looks the line up by it; a screen
    // reader reads the state from the description.
    setAccessibleDescription(state);
}

}  // namespace velnar
