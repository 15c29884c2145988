// Renders the main dialog, the Settings dialog, the messages window and the
// About box to PNG files: velnar_screenshots OUTPUT_DIR. Run it on a real
// display server (Xvfb in tools/screenshots.sh) so that the desktop's font
// and style apply.
//
// The dialogs are the program's own; only their surroundings are stand-ins:
// in-memory sound devices and mixer, an ephemeral UDP port, a sample
// settings file in a temporary directory, and a few status texts shown the
// way the engine shows them during a call.
#include "platform/doubles/fake_mixer_device.h"
#include "platform/doubles/fake_wave_device.h"
#include "ui/about_dlg.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/phone_app.h"
#include "ui/phone_dlg.h"
#include "ui/settings_dlg.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace velnar;

namespace {

std::shared_ptr<FakeMixerDevice> SampleMixer()
{
    auto mixer = std::make_shared<FakeMixerDevice>();
    const uint32_t speakers =
        mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master", 2);
    const uint32_t volume = mixer->AddControl(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME,
                                              "Master Volume", 0, 65535, 100);
    mixer->Values(volume) = {49151, 49151};
    mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Capture", 2);
    const uint32_t mic = mixer->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", 1);
    const uint32_t micVolume =
        mixer->AddControl(mic, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic Volume", 0, 65535, 100);
    mixer->Values(micVolume) = {32767};
    return mixer;
}

bool Save(QWidget& window, const QString& path)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(200);  // let the style finish painting
    const bool saved = window.grab().save(path);
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    CPhoneApp app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString outputDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outputDir);
    QTemporaryDir workDir;
    if (!workDir.isValid() || !QDir::setCurrent(workDir.path()))
        return 1;
    QFile settings(QStringLiteral("VOIP.set"));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("alice:secret@pbx.example.net\n700");
    settings.close();

    PhoneDlgOptions options;
    options.devices.waveIn = std::make_unique<FakeWaveIn>();
    options.devices.waveOut = std::make_unique<FakeWaveOut>();
    options.devices.mixer = SampleMixer();
    options.localPort = -1;
    CPhoneDlg phone(std::move(options));
    phone.m_numberEdit->setText(QStringLiteral("5551234"));
    for (const char* text :
         {"Calling...", "Connected", "Call disconnected by peer", "Hanging up...", "Ready"})
        phone.ShowStatus(text);
    bool ok = Save(phone, outputDir + QStringLiteral("/main-dialog.png"));

    CSettingsDlg settingsDialog;
    ok = Save(settingsDialog, outputDir + QStringLiteral("/settings.png")) && ok;
    settingsDialog.hide();

    phone.m_messagesDlg->move(40, 40);
    ok = Save(*phone.m_messagesDlg, outputDir + QStringLiteral("/messages.png")) && ok;

    CAboutDlg about(&phone);
    ok = Save(about, outputDir + QStringLiteral("/about.png")) && ok;
    return ok ? 0 : 1;
}
