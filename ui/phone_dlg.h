// The main dialog, the phone itself: number field, touch-tone pad, Call and
// Hang up, the output and input volume faders, the status line, and the
// menu that opens the Settings dialog and the messages window. It owns the
// phone engine and shows its status texts.
#pragma once

#include "engine/phone_owner.h"
#include "platform/device_choice.h"
#include "settings/settings_file.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QMenuBar;
class QPushButton;

namespace velnar {

class CIaxPhone;
class CMessagesDlg;
class CMixerFader;
class LimitedLineEdit;
class StatusLine;

struct PhoneDlgOptions {
    // Made at program start-up: the wave pair goes to the engine, the mixer
    // to both faders. Without a wave device the engine runs without sound;
    // without a mixer the faders stay disabled.
    AudioDevices devices;
    // The engine's UDP port: 0 the phone's own (5036), -1 any free one.
    int localPort = 0;
};

class CPhoneDlg : public QDialog, public PhoneOwner {
    Q_OBJECT
public:
    static constexpr int kMaxNumberChars = 32;
    static constexpr int kKeyCount = 12;

    explicit CPhoneDlg(PhoneDlgOptions options = {});
    ~CPhoneDlg() override;

    void ShowStatus(const std::string& text) override;

    CMixerFader* m_outputFader;
    CMixerFader* m_inputFader;
    QString m_strServer;
    QString m_strUser;
    QString m_strPassword;
    std::unique_ptr<CMessagesDlg> m_messagesDlg;
    std::unique_ptr<CIaxPhone> m_pPhone;
    StatusLine* m_status;
    LimitedLineEdit* m_numberEdit;
    QString m_strNumber;
    // Writes the settings file on a Settings OK; false with a reason when it
    // could not. Tests put a failing writer here.
    std::function<bool(const StoredSettings&, std::string&)> m_saveSettings =
        [](const StoredSettings& values, std::string& why) {
            return SaveSettingsFile(kSettingsFileName, values, &why);
        };

    QPushButton* m_callButton;
    QPushButton* m_hangUpButton;
    QPushButton* m_keys[kKeyCount];  // in the order of kKeyChars
    QMenuBar* m_menuBar;

    static constexpr char kKeyChars[kKeyCount + 1] = "123456789*0#";

public slots:
    void OnCall();
    void OnHangUp();
    void OnDigit(char key);
    void OnSettings();
    void OnShowMessages();
    void OnAbout();
    // Exit and Enter: refused while the number field holds too many characters.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateMenu();
    QWidget* CreateControls();
    void CreateKeypad(QWidget* client, const class DialogUnits& units);
    void SetTabOrder();
    void OnInitDialog(PhoneDlgOptions& options);
    // Fills the working copy from the settings file, if it can be read.
    void LoadSettingsAtCall();
    void SetNoiseThreshold(int noisePosition);
};

}  // namespace velnar
