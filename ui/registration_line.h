// The line under the call information that says whether the server will
// send calls to this phone: "Registered", "Registration refused" or "Not
// registered". It is a fact about the phone, not a status text, so it never
// reaches the status line or the messages window; it exists only while
// version 2 is selected, the one that registers.
#pragma once

#include <QLabel>

namespace velnar {

class RegistrationLine : public QLabel {
    Q_OBJECT
public:
    explicit RegistrationLine(QWidget* parent = nullptr);

    // The engine's state text; empty shows nothing.
    void ShowState(const QString& state);
};

}  // namespace velnar
