#include "audio_server.h"

#include "tests/support/pactl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <optional>

namespace velnar::test {

namespace {

const QStringList kPcmFormat = {"--format=s16le", "--rate=8000", "--channels=1", "--raw"};

void Stop(QProcess* process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->kill();
    process->waitForFinished(5000);
}

}  // namespace

EnvOverride::EnvOverride(const char* name, const QByteArray& value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
{
    qputenv(name, value);
}

EnvOverride::~EnvOverride()
{
    if (m_wasSet)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

bool HaveTestAudioServer()
{
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server;
}

bool WaitFor(const std::function<bool()>& condition, int capMs)
{
    return QTest::qWaitFor(condition, capMs);
}

PulsePlayer::PulsePlayer(const QString& sink, const QByteArray& pcm)
    : m_process(std::make_unique<QProcess>())
{
    // A generous buffer: the player must not run dry itself on a busy machine.
    m_process->start(
        "pacat", QStringList{"--playback", "--device=" + sink, "--latency-msec=300"} + kPcmFormat);
    if (!m_process->waitForStarted(5000))
        return;
    m_process->write(pcm);
    m_process->closeWriteChannel();
    m_started = true;
}

PulsePlayer::~PulsePlayer()
{
    Stop(m_process.get());
}

PulseRecorder::PulseRecorder(const QString& source) : m_process(std::make_unique<QProcess>())
{
    // A short one: the recorder sets the pace of the sink it listens to, and
    // a sink that works in long stretches would starve the device under test.
    m_process->start("parec", QStringList{"--device=" + source, "--latency-msec=20"} + kPcmFormat);
    m_process->waitForStarted(5000);
}

PulseRecorder::~PulseRecorder()
{
    Stop(m_process.get());
}

bool PulseRecorder::Started() const
{
    return m_process->state() == QProcess::Running;
}

const QByteArray& PulseRecorder::Bytes()
{
    m_bytes += m_process->readAllStandardOutput();
    return m_bytes;
}

ScratchSink::ScratchSink()
    : m_name(QString("velnar_test_%1").arg(QCoreApplication::applicationPid()))
{
    const auto module = Pactl({"load-module", "module-null-sink", "sink_name=" + m_name,
                               "sink_properties=device.description=" + m_name});
    if (!module)
        return;
    m_module = module->trimmed();
    m_sinkOverride = std::make_unique<EnvOverride>("PULSE_SINK", m_name.toUtf8());
    m_sourceOverride = std::make_unique<EnvOverride>("PULSE_SOURCE", Monitor().toUtf8());
}

ScratchSink::~ScratchSink()
{
    if (!m_module.isEmpty())
        Pactl({"unload-module", m_module});
}

PrivateAudioServer::PrivateAudioServer(bool micAndSpeaker)
    : m_dir(std::make_unique<QTemporaryDir>())
{
    const QString dir = m_dir->path();
    QDir().mkpath(dir + "/home");
    QDir().mkpath(dir + "/run");
    QFile config(dir + "/server.pa");
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(
        QString("load-module module-native-protocol-unix socket=%1/native auth-anonymous=1\n")
            .arg(dir)
            .toUtf8());
    if (micAndSpeaker)
        config.write(
            "load-module module-null-sink sink_name=speaker\n"
            "load-module module-null-sink sink_name=mic\n"
            "set-default-sink speaker\n"
            "set-default-source mic.monitor\n");
    else
        config.write(
            "load-module module-null-sink sink_name=only\n"
            "set-default-sink only\n"
            "set-default-source only.monitor\n");
    config.close();
    if (!Launch())
        return;
    m_serverOverride =
        std::make_unique<EnvOverride>("PULSE_SERVER", ("unix:" + dir + "/native").toUtf8());
    m_sinkOverride =
        std::make_unique<EnvOverride>("PULSE_SINK", micAndSpeaker ? "speaker" : "only");
    m_sourceOverride = std::make_unique<EnvOverride>(
        "PULSE_SOURCE", micAndSpeaker ? "mic.monitor" : "only.monitor");
}

bool PrivateAudioServer::Launch()
{
    const QString dir = m_dir->path();
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir + "/home");
    environment.insert("XDG_RUNTIME_DIR", dir + "/run");
    m_process->setProcessEnvironment(environment);
    m_process->start(
        "pulseaudio",
        {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disallow-exit",
         "--realtime=no", "-F", dir + "/server.pa", "--log-target=file:" + dir + "/server.log"});
    if (!m_process->waitForStarted(5000))
        return false;
    const QString server = "unix:" + dir + "/native";
    m_running = WaitFor([&] { return Pactl({"--server=" + server, "info"}).has_value(); });
    return m_running;
}

bool PrivateAudioServer::Restart()
{
    Kill();
    return Launch();
}

PrivateAudioServer::~PrivateAudioServer()
{
    Kill();
}

void PrivateAudioServer::Kill()
{
    if (m_process)
        Stop(m_process.get());
    m_running = false;
}

}  // namespace velnar::test
