// Renders the main dialog, the Settings dialog, the messages window and the
// About box, with version 1 and with version 2, to PNG files: velnar_screenshots OUTPUT_DIR. Run it
// on a real display server (Xvfb in tools/screenshots.sh) so that the desktop's font and style
// apply.
//
// The dialogs are the program's own; only their surroundings are stand-ins:
// in-memory sound devices and mixer, an ephemeral UDP port, a sample
// settings file in a temporary directory, and a few status texts shown the
// way the engine shows them during a call. The call pictures come from a
// real call to the echo service built next to this program, with a tone
// for the microphone.
#include "engine/iax_phone.h"
#include "platform/doubles/fake_mixer_device.h"
#include "platform/doubles/fake_wave_device.h"
#include "ui/about_dlg.h"
#include "ui/call_stats_dlg.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/phone_app.h"
#include "ui/phone_dlg.h"
#include "ui/settings_dlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <vector>

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

// 20 ms of a 440 Hz tone, 16-bit little-endian.
std::vector<uint8_t> ToneBuffer()
{
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 160; ++i) {
        const auto sample = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * i / 8000.0));
        pcm.push_back(static_cast<uint8_t>(sample & 0xFF));
        pcm.push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
    }
    return pcm;
}

// A call to the echo service, seconds into it: the main dialog with its
// call time, and the statistics window.
bool SaveCall(CPhoneDlg& phone, FakeWaveIn& microphone, const QString& outputDir)
{
    QProcess echo;
    echo.start(QCoreApplication::applicationDirPath() + QStringLiteral("/velnar-echo"),
               {QStringLiteral("--port=0"), QStringLiteral("--quiet")});
    if (!echo.waitForStarted() || !echo.waitForReadyRead(5000))
        return false;
    const QString banner = QString::fromLatin1(echo.readLine());
    const QString address = banner.section(QLatin1Char(' '), 2, 2).remove(QLatin1Char(';'));
    phone.m_strServer = address;
    phone.m_strUser.clear();
    phone.m_strPassword.clear();
    phone.OnCall();
    const std::vector<uint8_t> tone = ToneBuffer();
    QTimer speaking;
    QObject::connect(&speaking, &QTimer::timeout, [&] { microphone.Deliver(tone); });
    speaking.start(20);
    QTest::qWait(10600);  // past the first round-trip measurement
    bool ok = Save(phone, outputDir + QStringLiteral("/call.png"));
    phone.m_statsDlg->move(phone.x() + phone.width() + 20, phone.y());
    ok = Save(*phone.m_statsDlg, outputDir + QStringLiteral("/call-statistics.png")) && ok;
    speaking.stop();
    phone.OnHangUp();
    echo.terminate();
    echo.waitForFinished();
    return ok;
}

bool WriteSettings(const QByteArray& content)
{
    QFile settings(QStringLiteral("VOIP.set"));
    return settings.open(QIODevice::WriteOnly) && settings.write(content) == content.size();
}

// The phone as it starts with version 1 (today's settings file), its
// dialogs, and a call to the echo service.
bool SaveVersion1(const QString& outputDir)
{
    if (!WriteSettings("alice:secret@pbx.example.net\n700"))
        return false;
    PhoneDlgOptions options;
    auto microphone = std::make_unique<FakeWaveIn>();
    FakeWaveIn& microphoneRef = *microphone;
    options.devices.waveIn = std::move(microphone);
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
    about.hide();
    phone.m_messagesDlg->hide();
    return SaveCall(phone, microphoneRef, outputDir) && ok;
}

// The phone with version 2 and registration chosen: the registration line
// under the status line (its state shown as the engine reports it), and
// Settings with the protocol controls in use.
bool SaveVersion2(const QString& outputDir)
{
    if (!WriteSettings("alice:secret@127.0.0.1:9\n700\nprotocol=2\nregister=1\n"
                       "codecs=alaw,ulaw,gsm\n"))
        return false;
    PhoneDlgOptions options;
    options.devices.waveIn = std::make_unique<FakeWaveIn>();
    options.devices.waveOut = std::make_unique<FakeWaveOut>();
    options.devices.mixer = SampleMixer();
    options.localPort = -1;
    CPhoneDlg phone(std::move(options));
    phone.m_numberEdit->setText(QStringLiteral("5551234"));
    phone.RegistrationChanged("Registered");
    bool ok = Save(phone, outputDir + QStringLiteral("/main-dialog-v2.png"));
    CSettingsDlg settingsDialog;
    ok = Save(settingsDialog, outputDir + QStringLiteral("/settings-v2.png")) && ok;
    settingsDialog.hide();
    return ok;
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
    // One phone at a time: the library's socket is the process's.
    bool ok = SaveVersion1(outputDir);
    ok = SaveVersion2(outputDir) && ok;
    return ok ? 0 : 1;
}
