#include "ui/echo_service.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/prctl.h>
#include <csignal>

namespace velnar {

namespace {

// Its first line names the address; it prints nothing when it cannot bind.
constexpr int kStartWaitMs = 5000;
constexpr int kStopWaitMs = 2000;

}  // namespace

EchoService::~EchoService()
{
    Stop();
}

QString EchoService::ProgramPath()
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {here + QStringLiteral("/velnar-echo"), here + QStringLiteral("/../tools/velnar-echo")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("velnar-echo"));
}

bool EchoService::Start(int port)
{
    if (m_program.isEmpty())
        return false;
    // A phone killed outright must not leave the server behind.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(m_program,
                    {QStringLiteral("--quiet"), QStringLiteral("--port"), QString::number(port)});
    if (!m_process.waitForStarted(kStartWaitMs))
        return false;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartWaitMs)) {
    }
    static const QRegularExpression listening(
        QStringLiteral("^listening on 127\\.0\\.0\\.1:([0-9]+);"));
    const auto match = listening.match(QString::fromUtf8(m_process.readLine()));
    if (!match.hasMatch()) {
        Stop();
        return false;
    }
    m_port = match.captured(1).toInt();
    return true;
}

void EchoService::Stop()
{
    m_port = 0;
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopWaitMs);
    }
}

}  // namespace velnar
