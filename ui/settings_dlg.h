// The Settings dialog: server address, user name, password (at most 30
// characters each) and the noise slider. It shows what the settings file
// holds, read when the dialog is constructed; the caller takes the values
// after an OK.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;
class QSlider;

namespace velnar {

class LimitedLineEdit;

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxFieldChars = 30;
    static constexpr int kDetectedNoisePosition = 700;

    explicit CSettingsDlg(QWidget* parent = nullptr);

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

public slots:
    // Takes the controls' values, refusing an over-long field, white space
    // in any field and ';' or '=' in the user name.
    void accept() override;
    void OnDetect();

private:
    void LoadFromFile();
    void CreateControls();
    void ShowValues();
    void Refuse(LimitedLineEdit* edit, const QString& message);
};

}  // namespace velnar
