#include "platform/audio_devices.h"
#include "ui/desktop_start.h"
#include "ui/echo_service.h"
#include "ui/phone_app.h"
#include "velnar_version.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

const char kHelp[] = R"(Usage: velnar [OPTION]...
A desktop telephone for IAX servers: type a number, press Call and talk.
The settings are kept in the file VOIP.set in the current directory
(Options → Settings); the phone uses local UDP port 5036, or with IAX
version 2 port 4569 when it is free (otherwise any free port).

      --desktop[=DIR]  started from the desktop menu: keep VOIP.set in DIR
                       (default $XDG_CONFIG_HOME/velnar, that is
                       ~/.config/velnar); while there is none, start the
                       bundled echo server (velnar-echo) and write a VOIP.set
                       that calls it; start it again whenever VOIP.set names it
      --help           display this help and exit
      --version        output version information and exit

Besides these, the program takes only the Qt toolkit's own options
(such as -platform).
)";

int UsageError(const char* argument)
{
    std::fprintf(stderr,
                 "velnar: unrecognized option '%s'\nTry 'velnar --help' for more information.\n",
                 argument);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velnar (Velnar) %s\n", VELNAR_VERSION);
            return 0;
        }
    }
    velnar::CPhoneApp app(argc, argv);
    // The toolkit has taken its own options out of argv by now.
    std::optional<std::string> desktopFolder;
    for (int i = 1; i < argc; ++i) {
        if (!velnar::ParseDesktopOption(argv[i], desktopFolder))
            return UsageError(argv[i]);
    }
    // Outlives the window, whose exit may still await the echo server's
    // acknowledgement of a hang-up.
    std::unique_ptr<velnar::EchoService> echo;
    if (desktopFolder)
        echo = velnar::PrepareDesktopStart(*desktopFolder);
    // The sound devices are picked here and nowhere else.
    return app.InitInstance(velnar::MakeAudioDevices());
}
