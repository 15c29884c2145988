// The console program itself, apart from main(): main.cpp runs it as
// velnar-console; a test build may set the library's knobs first.
#include "console/run_console.h"

#include "console/console_options.h"
#include "console/console_phone.h"
#include "console/line_reader.h"
#include "iax/iax.h"
#include "platform/audio_devices.h"
#include "platform/signal_pipe.h"
#include "velnar_version.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velnar {

namespace {

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "velnar-console: %s\nTry 'velnar-console --help' for more information.\n",
                 message.c_str());
    return 2;
}

// Version 2 falls back to any free port on its own: only a port asked for
// can be in use.
void ReportPortInUse(int localPort, int version)
{
    if (localPort == 0 && version == 2) {
        std::fputs("velnar-console: cannot bind a local UDP port\n", stderr);
        return;
    }
    std::fprintf(stderr,
                 "velnar-console: cannot use UDP port %d: it is in use (is another phone "
                 "running?)\n",
                 localPort == 0 ? IaxDefaultPort : localPort);
}

}  // namespace

int RunConsole(int argc, char** argv)
{
    ConsoleOptions options;
    std::string error;
    switch (ParseConsoleOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case ParseOutcome::Help: std::fputs(kConsoleHelp, stdout); return 0;
    case ParseOutcome::Version:
        std::printf("velnar-console (Velnar) %s\n", VELNAR_VERSION);
        return 0;
    case ParseOutcome::UsageError: return UsageError(error);
    case ParseOutcome::Run: break;
    }

    QCoreApplication app(argc, argv);
    // Standard output carries status texts only.
    IaxSetDiagnosticStream(stderr);
    // A reader that goes away must not end the phone in the middle of a call.
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<LineReader> reader;
    ConsolePhone phone(options, [&](int status) {
        if (reader)
            reader->Stop();
        app.exit(status);
    });
    if (!phone.LoadStartSettings(error))
        return UsageError(error);
    // The same choice as the window's; the console has no faders for a mixer.
    AudioDevices devices = MakeAudioDevices(options.audio);
    const int localPort = EngineLocalPort(options);
    if (!phone.Start(std::move(devices.waveIn), std::move(devices.waveOut), localPort)) {
        ReportPortInUse(localPort, phone.Protocol().version);
        return 1;
    }
    SignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP}, [&](int) { phone.Interrupt(); });
    if (options.callNumber)
        QTimer::singleShot(0, &phone, [&] { phone.PlaceOneShotCall(); });
    else
        reader = std::make_unique<LineReader>(
            STDIN_FILENO, [&](const std::string& line) { phone.RunCommand(line); },
            [&] { phone.EndOfInput(); });
    return app.exec();
}

}  // namespace velnar
