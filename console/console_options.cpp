#include "console/console_options.h"

#include "settings/bounded_read.h"

#include <charconv>
#include <string>

namespace velnar {

const char kRegisterWantsVersion2[] =
    "--register needs version 2 (--protocol=2, or protocol=2 in VOIP.set): version 1 does not "
    "register";

const char kConsoleHelp[] = R"(Usage: velnar-console [OPTION]...
Place IAX telephone calls without a window: the Velnar phone driven by
commands on standard input, or by --call for one call and an exit status.

Settings come from the file VOIP.set in the current directory, as in the
window; these options override them:
      --server=HOST[:PORT]     the IAX server (port 5036 unless given)
      --user=NAME              the user name
      --password-file=FILE     read the password from the first line of FILE
                               (there is no option to give it on the command
                               line, where other users could read it)

One call, for scripts and monitoring:
      --call=NUMBER            call NUMBER, hold the call, hang up and exit
      --seconds=N              hold the call N seconds after "Connected"
                               (default 10)
      --timeout=S              give up after S seconds without "Connected"
                               (default 90)

      --audio=pulse|alsa|none  sound devices: the sound server, ALSA, or
                               silence for machines without sound (default:
                               the sound server when one answers, else ALSA)
      --local-port=N           bind local UDP port N instead of the protocol's
                               own (5036; 4569 for version 2 when free), so
                               that another phone can run on the same
                               machine; 0 takes any free port
      --protocol=1|2           speak IAX version 1 or 2 (default: the
                               settings file's choice, else 1); a server
                               address without a port means 5036 for
                               version 1 and 4569 for version 2
      --register               version 2: register with the server at start,
                               so that it can pass calls on to this phone
      --help                   display this help and exit
      --version                output version information and exit

Without --call, commands are read from standard input, one per line:
  call NUMBER    place a call           hangup    end the call
  key DIGITS     send touch tones       status    print the last status text
  answer         answer a version-2 call that rings (so does call; hangup
                 declines it)
  stats          print the call's figures on one line
  registration   print the registration state: Registered, Registration
                 refused or Not registered (version 2)
  quit           hang up and exit (so does the end of the input)

Standard output carries the status texts, one per line, as the window's
messages list shows them; everything else goes to standard error. Ctrl-C
hangs up before exiting, and with --register also releases the
registration. The phone uses local UDP port 5036 with version 1; with
version 2 it uses 4569 when that is free, otherwise any free port, and says
which on standard error. --local-port overrides either.

Exit status: 0 if OK (with --call: the call reached "Connected"),
1 if the call did not reach "Connected" or the phone could not start,
2 on a usage error.
)";

namespace {

// Seconds become milliseconds for the timers: at most about 23 days.
constexpr int kMaxSeconds = 2000000;

bool ParseSeconds(const std::string& text, int minimum, int& value)
{
    const char* end = text.data() + text.size();
    int parsed = 0;
    auto [last, error] = std::from_chars(text.data(), end, parsed);
    if (error != std::errc() || last != end || parsed < minimum || parsed > kMaxSeconds)
        return false;
    value = parsed;
    return true;
}

// The password is the file's first line, without its line break. The file
// is read as the settings file is: never a FIFO or device, at most 64 KiB.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error)
{
    std::string text;
    std::string why;
    if (ReadBoundedFile(path, text, why) != ReadOutcome::Read) {
        error = "cannot read the password file '" + path + "': " + why;
        return false;
    }
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

bool ParsePort(const std::string& text, int& port)
{
    const char* end = text.data() + text.size();
    int parsed = 0;
    auto [last, error] = std::from_chars(text.data(), end, parsed);
    if (error != std::errc() || last != end || parsed < 0 || parsed > 65535)
        return false;
    port = parsed;
    return true;
}

bool ParseProtocol(const std::string& text, std::optional<int>& protocol)
{
    if (text != "1" && text != "2")
        return false;
    protocol = text[0] - '0';
    return true;
}

// Splits "--name=value" or takes the value from the next argument.
struct Argument {
    std::string name;
    std::optional<std::string> value;
};

Argument Split(const std::string& argument)
{
    const size_t equals = argument.find('=');
    if (equals == std::string::npos)
        return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

bool IsFlag(const std::string& name)
{
    return name == "--help" || name == "--version" || name == "--register";
}

bool TakesValue(const std::string& name)
{
    for (const char* option : {"--server", "--user", "--password-file", "--call", "--seconds",
                               "--timeout", "--audio", "--local-port", "--protocol"})
        if (name == option)
            return true;
    return false;
}

bool Apply(const std::string& name, const std::string& value, ConsoleOptions& options,
           std::string& error)
{
    if (name == "--server")
        options.server = value;
    else if (name == "--user")
        options.user = value;
    else if (name == "--password-file") {
        std::string password;
        if (!ReadPasswordFile(value, password, error))
            return false;
        options.password = password;
    } else if (name == "--call")
        options.callNumber = value;
    else if (name == "--seconds" && !ParseSeconds(value, 0, options.holdSeconds))
        error = "--seconds wants whole seconds from 0 to " + std::to_string(kMaxSeconds) +
                ", not '" + value + "'";
    else if (name == "--timeout" && !ParseSeconds(value, 1, options.timeoutSeconds))
        error = "--timeout wants whole seconds from 1 to " + std::to_string(kMaxSeconds) +
                ", not '" + value + "'";
    else if (name == "--local-port") {
        int port = 0;
        if (!ParsePort(value, port))
            error = "--local-port wants a UDP port from 0 to 65535, not '" + value + "'";
        options.localPort = port;
    } else if (name == "--protocol" && !ParseProtocol(value, options.protocol)) {
        error = "--protocol wants 1 or 2, not '" + value + "'";
    } else if (name == "--audio") {
        if (value != "none" && value != "alsa" && value != "pulse")
            error = "--audio wants none, alsa or pulse, not '" + value + "'";
        options.audio = value;
    }
    return error.empty();
}

}  // namespace

int EngineLocalPort(const ConsoleOptions& options)
{
    if (!options.localPort)
        return 0;
    return *options.localPort == 0 ? -1 : *options.localPort;
}

ParseOutcome ParseConsoleOptions(const std::vector<std::string>& arguments, ConsoleOptions& options,
                                 std::string& error)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        Argument argument = Split(arguments[i]);
        if (IsFlag(argument.name) && argument.value) {
            error = "option '" + argument.name + "' doesn't allow an argument";
            return ParseOutcome::UsageError;
        }
        if (argument.name == "--help" || argument.name == "--version")
            return argument.name == "--help" ? ParseOutcome::Help : ParseOutcome::Version;
        if (argument.name == "--register") {
            options.registerForCalls = true;
            continue;
        }
        if (!TakesValue(argument.name)) {
            error = argument.name.rfind('-', 0) == 0 ? "unrecognized option '" + arguments[i] + "'"
                                                     : "unexpected argument '" + arguments[i] + "'";
            if (argument.name == "--password")
                error += " (the password is read from a file: --password-file)";
            return ParseOutcome::UsageError;
        }
        if (!argument.value) {
            if (i + 1 == arguments.size()) {
                error = "option '" + argument.name + "' requires an argument";
                return ParseOutcome::UsageError;
            }
            argument.value = arguments[++i];
        }
        if (!Apply(argument.name, *argument.value, options, error))
            return ParseOutcome::UsageError;
    }
    if (options.registerForCalls && options.protocol == 1) {
        error = kRegisterWantsVersion2;
        return ParseOutcome::UsageError;
    }
    return ParseOutcome::Run;
}

}  // namespace velnar
