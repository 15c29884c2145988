#include "tests/support/echo_peer_process.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace velnar::test {

namespace {

constexpr int kStartMs = 10000;

// Its first line: "listening on 127.0.0.1:PORT; ...".
uint16_t PortFromBanner(const QString& line)
{
    const qsizetype colon = line.indexOf(':');
    const qsizetype semicolon = line.indexOf(';');
    if (colon <= 0 || semicolon <= colon)
        return 0;
    return uint16_t(line.mid(colon + 1, semicolon - colon - 1).toUInt());
}

// Its second line: "version 2 on 127.0.0.1:PORT".
uint16_t V2PortFromBanner(const QString& line)
{
    if (!line.startsWith(QStringLiteral("version 2 on ")))
        return 0;
    return uint16_t(line.mid(line.lastIndexOf(':') + 1).trimmed().toUInt());
}

QString ReadBannerLine(QProcess& process)
{
    while (!process.canReadLine() && process.waitForReadyRead(kStartMs)) {
    }
    return QString::fromUtf8(process.readLine());
}

}  // namespace

EchoPeerProcess::EchoPeerProcess(bool quiet, const std::vector<std::string>& options)
{
    QStringList arguments{"--port", "0", "--answer-delay-ms", "0"};
    if (quiet)
        arguments << "--quiet";
    for (const std::string& option : options)
        arguments << QString::fromStdString(option);
    m_process.start(VELNAR_ECHO_PEER, arguments);
    if (!m_process.waitForStarted(kStartMs))
        return;
    m_port = PortFromBanner(ReadBannerLine(m_process));
    if (m_port)
        m_v2Port = V2PortFromBanner(ReadBannerLine(m_process));
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
