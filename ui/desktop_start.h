// Start-up of a phone launched from the desktop menu (velnar --desktop): no
// terminal, no directory of the user's choosing, often no server yet. The
// settings are kept in the user's configuration folder, and until there are
// any, calls go to the bundled echo server so that the first Call works.
#pragma once

#include "settings/settings_file.h"

#include <memory>
#include <optional>
#include <string>

namespace velnar {

class EchoService;

// The port of the echo server that the settings name: an address on
// 127.0.0.1 with an explicit port other than the phone's own, and no user
// name or password, as the first start writes it. Nothing for any other
// server.
std::optional<int> LocalEchoPort(const StoredSettings& settings);

// Reads one command-line argument: --desktop (the user's configuration
// folder) or --desktop=DIR sets folder. False for anything else.
bool ParseDesktopOption(const std::string& argument, std::optional<std::string>& folder);

// Moves into the folder (an empty one: the user's configuration folder,
// made readable by the owner only when missing), then:
//  - without "VOIP.set" there, starts the echo server on 127.0.0.1:5037 (a
//    free port when that one is taken) and writes a "VOIP.set" that calls it;
//  - with a "VOIP.set" that names such a local echo address, starts the
//    echo server there again.
// Returns the echo server, which runs as long as the object lives, or null
// when none was started. Says what it did, or why it could not, on the
// standard streams; the phone starts either way.
struct DesktopStartOptions {
    std::string echoProgram;   // empty: the one installed beside the phone
    int firstEchoPort = 5037;  // tried first on a first start
};
std::unique_ptr<EchoService> PrepareDesktopStart(std::string folder,
                                                 const DesktopStartOptions& options = {});

}  // namespace velnar
