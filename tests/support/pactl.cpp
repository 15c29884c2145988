#include "tests/support/pactl.h"

#include <QProcess>

namespace velnar::test {

std::optional<QString> Pactl(const QStringList& arguments)
{
    QProcess pactl;
    pactl.start("pactl", arguments);
    // Generous: a loaded machine can keep the server from answering for seconds.
    if (!pactl.waitForFinished(20000) || pactl.exitStatus() != QProcess::NormalExit ||
        pactl.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(pactl.readAllStandardOutput());
}

QString PactlLoadModule(const QStringList& arguments)
{
    return Pactl(QStringList{"load-module"} + arguments).value_or(QString()).trimmed();
}

void PactlUnloadModule(const QString& index)
{
    if (!index.isEmpty())
        Pactl({"unload-module", index});
}

}  // namespace velnar::test
