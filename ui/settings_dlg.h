// The Settings dialog: server address, user name, password (at most 30
// characters each), the noise slider, the microphone and speaker, and the
// protocol (version, registration, codec order). It
// shows what the settings file holds, read when the dialog is constructed;
// the caller takes the values after an OK. The devices on offer come from
// the catalog the program's start-up made; without one only "Default" is.
#pragma once

#include "platform/device_catalog.h"
#include "settings/protocol_settings.h"
#include "settings/settings_keys.h"

#include <QDialog>
#include <QString>

#include <memory>

class QComboBox;
class QPushButton;
class QSlider;

namespace velnar {

class LimitedLineEdit;
class ProtocolChoice;

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxFieldChars = 30;
    static constexpr int kDetectedNoisePosition = 700;

    explicit CSettingsDlg(QWidget* parent = nullptr,
                          std::shared_ptr<DeviceCatalog> catalog = nullptr);

    int m_nFileNoise = 1000;
    QSlider* m_noiseSlider;
    QString m_strServer;
    QString m_strPassword;
    QString m_strUser;
    int m_nNoise = 1000;

    LimitedLineEdit* m_serverEdit;
    LimitedLineEdit* m_userEdit;
    LimitedLineEdit* m_passwordEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    QPushButton* m_detectButton;
    QComboBox* m_microphoneBox;
    QComboBox* m_speakerBox;
    ProtocolChoice* m_protocolChoice;
    // The file's key lines, with the devices chosen after an OK (catalog
    // identifiers; absent for "Default") and the protocol lines.
    SettingsKeys m_keys;

public slots:
    // Takes the controls' values, refusing an over-long field, white space
    // in any field and ';' or '=' in the user name.
    void accept() override;
    void OnDetect();

private:
    void LoadFromFile();
    void CreateControls();
    void ShowValues();
    void PlaceLabel(const QString& text, const QRect& rect, QWidget* field);
    void CreateDeviceControls(const class DialogUnits& units);
    static void FillDevices(QComboBox* box, const std::vector<SoundDevice>& devices,
                            const std::string& chosen);

    void StoreProtocol();

    std::shared_ptr<DeviceCatalog> m_catalog;
    ProtocolSettings m_fileProtocol;  // as the file's lines read
    void Refuse(LimitedLineEdit* edit, const QString& message);
};

}  // namespace velnar
