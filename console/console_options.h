// The console phone's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velnar {

struct ConsoleOptions {
    // Override the settings file's values when given.
    std::optional<std::string> server;
    std::optional<std::string> user;
    std::optional<std::string> password;  // read from --password-file
    // Set: one call, then exit (one-shot use); unset: commands on stdin.
    std::optional<std::string> callNumber;
    int holdSeconds = 10;     // after "Connected"
    int timeoutSeconds = 90;  // without "Connected"
    std::string audio;        // "" automatic, "none", "alsa", "pulse"
    // Unset: the protocol's own port (5036; 4569 for version 2 when free);
    // 0: any free port.
    std::optional<int> localPort;
    // Override the settings file's protocol= and register= keys when given.
    std::optional<int> protocol;  // 1 or 2
    bool registerForCalls = false;
};

// The port as the phone engine takes it: 0 for its default, -1 for any.
int EngineLocalPort(const ConsoleOptions& options);

enum class ParseOutcome { Run, Help, Version, UsageError };

// arguments without the program name. On UsageError, error holds a one-line
// message (without the program name).
ParseOutcome ParseConsoleOptions(const std::vector<std::string>& arguments, ConsoleOptions& options,
                                 std::string& error);

extern const char kConsoleHelp[];
// Refuses --register with version 1, from the command line or the file.
extern const char kRegisterWantsVersion2[];

}  // namespace velnar
