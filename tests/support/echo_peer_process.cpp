#include "tests/support/echo_peer_process.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace velnar::test {

namespace {

constexpr int kStartMs = 10000;
// Both banner lines are written at once: the second follows at once or not
// at all.
constexpr int kSecondLineMs = 500;

// Its first line: "listening on 127.0.0.1:PORT; ...".
uint16_t PortFromBanner(const QString& line)
{
    const qsizetype colon = line.indexOf(':');
    const qsizetype semicolon = line.indexOf(';');
    if (colon <= 0 || semicolon <= colon)
        return 0;
    return uint16_t(line.mid(colon + 1, semicolon - colon - 1).toUInt());
}

// Its second line, when version 2 is on: "version 2 on 127.0.0.1:PORT".
uint16_t Version2PortFromBanner(const QString& line)
{
    const QString prefix = "version 2 on ";
    const qsizetype colon = line.lastIndexOf(':');
    if (!line.startsWith(prefix) || colon < 0)
        return 0;
    return uint16_t(line.mid(colon + 1).trimmed().toUInt());
}

}  // namespace

EchoPeerProcess::EchoPeerProcess(bool quiet, const QStringList& extraArguments)
{
    QStringList arguments{"--port", "0", "--answer-delay-ms", "0"};
    if (quiet)
        arguments << "--quiet";
    arguments << extraArguments;
    m_process.start(VELNAR_ECHO_PEER, arguments);
    if (!m_process.waitForStarted(kStartMs))
        return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartMs)) {
    }
    m_port = PortFromBanner(QString::fromUtf8(m_process.readLine()));
    if (m_port != 0 && (m_process.canReadLine() || m_process.waitForReadyRead(kSecondLineMs))) {
        const QString second = QString::fromUtf8(m_process.readLine());
        m_version2Port = Version2PortFromBanner(second);
        if (m_version2Port == 0)
            m_output += second.toStdString();
    }
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                     [this] { m_output += m_process.readAllStandardOutput().toStdString(); });
}

EchoPeerProcess::~EchoPeerProcess()
{
    Stop();
}

void EchoPeerProcess::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

}  // namespace velnar::test
