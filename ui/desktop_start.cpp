#include "ui/desktop_start.h"

#include "settings/call_target.h"
#include "settings/settings_folder.h"
#include "ui/echo_service.h"

#include <unistd.h>
#include <charconv>
#include <cstdio>
#include <filesystem>

namespace velnar {

namespace {

const char kLocalHostPrefix[] = "127.0.0.1:";

bool EnterFolder(const std::string& folder)
{
    if (!MakePrivateFolder(folder) || ::chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "velnar: cannot use the folder %s for %s; using the current one\n",
                     folder.c_str(), kSettingsFileName);
        return false;
    }
    return true;
}

std::unique_ptr<EchoService> StartEcho(const std::string& program, int port)
{
    auto echo = program.empty() ? std::make_unique<EchoService>()
                                : std::make_unique<EchoService>(QString::fromStdString(program));
    return echo->Start(port) ? std::move(echo) : nullptr;
}

// The first start: something to call, and a settings file that calls it.
std::unique_ptr<EchoService> FirstStart(const DesktopStartOptions& options)
{
    std::unique_ptr<EchoService> echo = StartEcho(options.echoProgram, options.firstEchoPort);
    if (!echo)
        echo = StartEcho(options.echoProgram, 0);
    if (!echo) {
        std::fprintf(stderr, "Cannot start the echo server (velnar-echo); %s not written.\n",
                     kSettingsFileName);
        return nullptr;
    }
    StoredSettings settings;
    settings.server = kLocalHostPrefix + std::to_string(echo->Port());
    if (SaveSettingsFile(kSettingsFileName, settings))
        std::printf(
            "Wrote %s: calls go to the bundled echo server on 127.0.0.1:%d (dial any "
            "number to hear yourself); change it in Options → Settings.\n",
            kSettingsFileName, echo->Port());
    else
        std::fprintf(stderr,
                     "Cannot write %s here; the echo server is on 127.0.0.1:%d (enter it in "
                     "Options → Settings).\n",
                     kSettingsFileName, echo->Port());
    std::fflush(stdout);
    return echo;
}

}  // namespace

std::optional<int> LocalEchoPort(const StoredSettings& settings)
{
    const std::string& server = settings.server;
    const size_t prefix = sizeof(kLocalHostPrefix) - 1;
    if (!settings.user.empty() || !settings.password.empty() ||
        server.compare(0, prefix, kLocalHostPrefix) != 0)
        return std::nullopt;
    int port = 0;
    const char* last = server.data() + server.size();
    auto [end, error] = std::from_chars(server.data() + prefix, last, port);
    if (error != std::errc() || end != last || end == server.data() + prefix || port < 1 ||
        port > 65535 || port == kDefaultServerPort)
        return std::nullopt;
    return port;
}

bool ParseDesktopOption(const std::string& argument, std::optional<std::string>& folder)
{
    const std::string option = "--desktop";
    if (argument == option)
        folder = std::string();
    else if (argument.compare(0, option.size() + 1, option + "=") == 0 &&
             argument.size() > option.size() + 1)
        folder = argument.substr(option.size() + 1);
    else
        return false;
    return true;
}

std::unique_ptr<EchoService> PrepareDesktopStart(std::string folder,
                                                 const DesktopStartOptions& options)
{
    if (folder.empty())
        folder = DesktopSettingsFolder();
    if (!folder.empty())
        EnterFolder(folder);
    std::error_code error;
    if (!std::filesystem::exists(kSettingsFileName, error))
        return FirstStart(options);
    StoredSettings settings;
    if (!LoadSettingsFile(kSettingsFileName, settings))
        return nullptr;
    const std::optional<int> port = LocalEchoPort(settings);
    if (!port)
        return nullptr;
    std::unique_ptr<EchoService> echo = StartEcho(options.echoProgram, *port);
    if (!echo)
        std::fprintf(
            stderr, "The echo server cannot listen on 127.0.0.1:%d (taken); not started.\n", *port);
    return echo;
}

}  // namespace velnar
