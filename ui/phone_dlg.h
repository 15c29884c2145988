// The main dialog, the phone itself: number field, touch-tone pad, Call and
// Hang up, the output and input volume faders, the status line, and the
// menu that opens the Settings dialog and the messages window. It owns the
// phone engine and shows its status texts.
#pragma once

#include "engine/phone_owner.h"
#include "platform/device_choice.h"
#include "settings/call_target.h"
#include "settings/protocol_settings.h"
#include "settings/settings_file.h"
#include "settings/settings_keys.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class QMenuBar;
class QPushButton;

namespace velnar {

class CCallStatsDlg;
class CIaxPhone;
class CMessagesDlg;
class CallInfoLine;
class CMixerFader;
class LimitedLineEdit;
class RegistrationLine;
class StatusLine;

struct PhoneDlgOptions {
    // Made at program start-up: the wave pair goes to the engine, the mixer
    // to both faders. Without a wave device the engine runs without sound;
    // without a mixer the faders stay disabled.
    AudioDevices devices;
    // The engine's UDP port: 0 the phone's own (5036; with version 2, 4569
    // when it is free), -1 any free one.
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
    // Not while the window is active: a desktop notification naming the
    // caller, and the task bar's urgency hint.
    void IncomingCall(const std::string& caller) override;
    // Shown in the registration line while version 2 is selected.
    void RegistrationChanged(const std::string& state) override;

    CMixerFader* m_outputFader;
    CMixerFader* m_inputFader;
    QString m_strServer;
    QString m_strUser;
    QString m_strPassword;
    std::unique_ptr<CMessagesDlg> m_messagesDlg;
    std::unique_ptr<CIaxPhone> m_pPhone;
    StatusLine* m_status;
    CallInfoLine* m_infoLine;
    RegistrationLine* m_registrationLine;
    // The protocol the engine was last given: from the settings file at
    // start, from the Settings dialog after an OK.
    ProtocolSettings m_protocol;
    std::unique_ptr<CCallStatsDlg> m_statsDlg;
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
    void OnCallStatistics();
    void OnAbout();
    // Exit and Enter: refused while the number field holds too many characters.
    void accept() override;
    // Every way of closing the window ends here: a call in progress is hung
    // up (the destructor then awaits the far end's acknowledgement).
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateMenu();
    QWidget* CreateControls();
    QWidget* CreateInfoLine();
    void NameControls(QWidget* client);
    // The info line follows the call from its first status text to its end.
    void RefreshInfoLine();
    void CreateKeypad(QWidget* client, const class DialogUnits& units);
    void SetTabOrder();
    void OnInitDialog(PhoneDlgOptions& options);
    void CreateEngine(PhoneDlgOptions& options);
    // What a Call dials (the account, with an empty number), from the
    // working copy; the server's default port follows the protocol.
    CallTarget TargetFor(const std::string& number) const;
    void ApplyProtocol(const SettingsKeys& keys);
    void ShowRegistration(const std::string& state);
    // Fills the working copy from the settings file, if it can be read.
    void LoadSettingsAtCall();
    void SetNoiseThreshold(int noisePosition);
    void AwaitHangUpAcknowledged();
    void ChooseDevices(const SettingsKeys& keys);

    QTimer m_infoTimer;
    QString m_ringingCaller;  // of the call that rings here
    QWidget* m_infoStrip;
    std::shared_ptr<DeviceCatalog> m_catalog;
};

}  // namespace velnar
