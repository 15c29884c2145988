// velnar-console: the Velnar phone without a window (see --help).
#include "console/console_options.h"
#include "console/console_phone.h"
#include "console/line_reader.h"
#include "console/signal_pipe.h"
#include "iax/iax.h"
#include "platform/audio_devices.h"
#include "velnar_version.h"

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace velnar;

// Test-only settings, read from the environment so that no user meets them
// in --help: a local port other than 5036 (so that tests run side by side;
// -1 takes any free port), and fewer retransmissions of an unanswered frame
// (so that the silent-server test times out in a second instead of 75).
int TestSetting(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "velnar-console: %s\nTry 'velnar-console --help' for more information.\n",
                 message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
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
    IaxMaxRetries = TestSetting("VELNAR_TEST_MAX_RETRIES", IaxMaxRetries);
    // A reader that goes away must not end the phone in the middle of a call.
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<LineReader> reader;
    ConsolePhone phone(options, [&](int status) {
        if (reader)
            reader->Stop();
        app.exit(status);
    });
    // The same choice as the window's; the console has no faders for a mixer.
    AudioDevices devices = MakeAudioDevices(options.audio);
    const int localPort = TestSetting("VELNAR_TEST_LOCAL_PORT", 0);
    if (!phone.Start(std::move(devices.waveIn), std::move(devices.waveOut), localPort)) {
        std::fprintf(stderr,
                     "velnar-console: cannot use UDP port %d: it is in use (is another phone "
                     "running?)\n",
                     localPort == 0 ? IaxDefaultPort : localPort);
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
