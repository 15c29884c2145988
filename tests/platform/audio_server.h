// Access to the private PulseAudio test server from the tests: players and
// recorders run as the server's own command-line clients, so that what the
// wave devices do is checked by something other than themselves.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;

namespace velnar::test {

// Sets an environment variable for its lifetime, then restores it.
class EnvOverride {
public:
    EnvOverride(const char* name, const QByteArray& value);
    ~EnvOverride();
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

// True when the test audio server's variables are set (see
// tools/test-audio-env.sh); tests that need it skip otherwise.
bool HaveTestAudioServer();

// Runs the event loop until the condition holds or the cap runs out;
// returns the condition's last value. The cap is a safety net for what never
// comes, not a timing assertion: generous, because a loaded machine can keep
// the sound server from running for seconds.
bool WaitFor(const std::function<bool()>& condition, int capMs = 30000);

// Plays 8000-Hz 16-bit mono PCM into a sink of the server.
class PulsePlayer {
public:
    PulsePlayer(const QString& sink, const QByteArray& pcm);
    ~PulsePlayer();
    bool Started() const { return m_started; }

private:
    std::unique_ptr<QProcess> m_process;
    bool m_started = false;
};

// Records a source of the server as 8000-Hz 16-bit mono PCM.
class PulseRecorder {
public:
    explicit PulseRecorder(const QString& source);
    ~PulseRecorder();
    bool Started() const;
    // Everything recorded so far (reads what the recorder has sent).
    const QByteArray& Bytes();

private:
    std::unique_ptr<QProcess> m_process;
    QByteArray m_bytes;
};

// A null sink of the test's own on the test server, made the default sink
// and its monitor the default source of this process (PULSE_SINK,
// PULSE_SOURCE) while it lives: other programs playing on the server meanwhile
// are not heard, and the test's own sound disturbs nobody.
class ScratchSink {
public:
    ScratchSink();
    ~ScratchSink();
    bool Loaded() const { return !m_module.isEmpty(); }
    const QString& Name() const { return m_name; }
    QString Monitor() const { return m_name + ".monitor"; }

private:
    QString m_name;
    QString m_module;
    std::unique_ptr<EnvOverride> m_sinkOverride;
    std::unique_ptr<EnvOverride> m_sourceOverride;
};

// A PulseAudio server of the test's own, with one null sink, that the test
// may kill to take the sound device away. While it lives, PULSE_SERVER (and
// PULSE_SINK, PULSE_SOURCE) point at it, for the devices opened meanwhile.
class PrivateAudioServer {
public:
    // The one null sink is "only" (the default source its monitor), or,
    // with micAndSpeaker, the layout of the shared test server: sinks "mic"
    // and "speaker", the devices pointed at "speaker" and "mic.monitor".
    explicit PrivateAudioServer(bool micAndSpeaker = false);
    ~PrivateAudioServer();
    bool Running() const { return m_running; }
    // Kills the server at once, as a crash or a lost device would.
    void Kill();
    // Starts the killed server again, at the same address and with the
    // same sinks; returns whether it answers.
    bool Restart();

private:
    bool Launch();
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<EnvOverride> m_serverOverride;
    std::unique_ptr<EnvOverride> m_sinkOverride;
    std::unique_ptr<EnvOverride> m_sourceOverride;
    bool m_running = false;
};

}  // namespace velnar::test
