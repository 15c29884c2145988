// pactl against the sound server that PULSE_SERVER names (the test server).
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace velnar::test {

// The command's standard output, or nothing when it failed or hung.
std::optional<QString> Pactl(const QStringList& arguments);

// Loads a module; its index, or an empty string when it failed.
QString PactlLoadModule(const QStringList& arguments);
void PactlUnloadModule(const QString& index);

}  // namespace velnar::test
