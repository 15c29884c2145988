// The bundled echo server (velnar-echo) as a child of the window, so that a
// phone started from the desktop menu has something to call before any
// server is set up. It is stopped when this object goes, and the system
// stops it too should the phone end without cleaning up.
#pragma once

#include <QProcess>
#include <QString>

#include <utility>

namespace velnar {

class EchoService {
public:
    // program: the echo server to run; empty when none can be found.
    explicit EchoService(QString program = ProgramPath()) : m_program(std::move(program)) {}
    ~EchoService();
    EchoService(const EchoService&) = delete;
    EchoService& operator=(const EchoService&) = delete;

    // Starts it on 127.0.0.1:port (0: a free port). False when the program
    // cannot be found or cannot listen there.
    bool Start(int port);
    // The port it listens on; 0 when not running.
    int Port() const { return m_port; }
    // The installed program beside this one (or, in a build tree, the one
    // built with it); empty when there is none.
    static QString ProgramPath();

private:
    void Stop();

    QString m_program;
    QProcess m_process;
    int m_port = 0;
};

}  // namespace velnar
