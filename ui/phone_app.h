// The application object: runs the main dialog modally for the life of the
// program.
#pragma once

#include "platform/device_choice.h"

#include <QApplication>

namespace velnar {

// The message for a socket layer that cannot be started. POSIX sockets need
// no start-up step, so on this platform there is no occasion to show it.
inline constexpr const char* kSocketsInitFailedText = "Windows sockets initialization failed.";

class CPhoneApp : public QApplication {
    Q_OBJECT
public:
    CPhoneApp(int& argc, char** argv);

    // Shows the main dialog, with the sound devices the program's start-up
    // made, until it closes; the program then ends. Returns the process
    // exit code.
    int InitInstance(AudioDevices devices);
};

}  // namespace velnar
