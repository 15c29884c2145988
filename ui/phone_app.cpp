#include "ui/phone_app.h"

#include "ui/app_icon.h"
#include "ui/phone_dlg.h"

#include <utility>

namespace velnar {

CPhoneApp::CPhoneApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Velnar"));
    setApplicationVersion(QStringLiteral("1.0"));
    setDesktopFileName(QStringLiteral("velnar"));
    setWindowIcon(AppIcon());
}

int CPhoneApp::InitInstance(AudioDevices devices)
{
    // The messages window has no owner; it must not end the program when it
    // is the last window left, nor keep it running after the main dialog.
    setQuitOnLastWindowClosed(false);
    // The dialog hands the devices on to the engine and the faders.
    PhoneDlgOptions options;
    options.devices = std::move(devices);
    CPhoneDlg dialog(std::move(options));
    dialog.exec();
    return 0;
}

}  // namespace velnar
