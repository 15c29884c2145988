// The console phone as a program: parses the command line, runs the phone
// on a Qt Core event loop and returns the exit status.
#pragma once

namespace velnar {

int RunConsole(int argc, char** argv);

}  // namespace velnar
