#include "ui/settings_dlg.h"

#include "settings/settings_file.h"
#include "ui/dialog_units.h"
#include "ui/limited_line_edit.h"
#include "ui/protocol_choice.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

namespace velnar {

namespace {

constexpr int kNoiseMin = 0;
constexpr int kNoiseMax = 1000;
// The protocol group's top edge, and the OK and Cancel row under it (dialog
// units).
constexpr int kProtocolTop = 183;
constexpr int kButtonsTop = kProtocolTop + ProtocolChoice::kHeightUnits + 6;

bool HoldsWhiteSpace(const QString& text)
{
    for (QChar c : text)
        if (c.isSpace())
            return true;
    return false;
}

}  // namespace

CSettingsDlg::CSettingsDlg(QWidget* parent, std::shared_ptr<DeviceCatalog> catalog)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_catalog(std::move(catalog))
{
    LoadFromFile();
    CreateControls();
    ShowValues();
}

void CSettingsDlg::LoadFromFile()
{
    StoredSettings stored;
    stored.noisePosition = m_nFileNoise;
    if (!LoadSettingsFile(kSettingsFileName, stored))
        return;
    m_strUser = QString::fromStdString(stored.user);
    m_strPassword = QString::fromStdString(stored.password);
    m_strServer = QString::fromStdString(stored.server);
    m_nFileNoise = stored.noisePosition;
    m_keys = stored.keys;
    m_fileProtocol = ReadProtocolSettings(m_keys);
}

void CSettingsDlg::CreateControls()
{
    setWindowTitle(QStringLiteral("Settings"));
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(QSize(187, kButtonsTop + 21)));

    // Created in template order, which is also the tab order.
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setGeometry(units.ToPixels(34, kButtonsTop, 50, 14));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setGeometry(units.ToPixels(94, kButtonsTop, 50, 14));
    m_serverEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_serverEdit->setGeometry(units.ToPixels(71, 14, 90, 14));
    m_userEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_userEdit->setGeometry(units.ToPixels(71, 32, 90, 14));
    m_passwordEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_passwordEdit->setGeometry(units.ToPixels(71, 51, 90, 14));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    PlaceLabel(QStringLiteral("Server address"), units.ToPixels(16, 17, 48, 8), m_serverEdit);
    PlaceLabel(QStringLiteral("User name"), units.ToPixels(16, 35, 34, 8), m_userEdit);
    PlaceLabel(QStringLiteral("Password"), units.ToPixels(16, 52, 31, 8), m_passwordEdit);
    auto* group = new QGroupBox(QStringLiteral("Noise"), this);
    group->setGeometry(units.ToPixels(7, 85, 173, 48));
    m_noiseSlider = new QSlider(Qt::Horizontal, this);
    m_noiseSlider->setGeometry(units.ToPixels(15, 110, 100, 15));
    m_noiseSlider->setTickPosition(QSlider::NoTicks);
    m_noiseSlider->setAccessibleName(QStringLiteral("Noise"));
    m_noiseSlider->setAccessibleDescription(
        QStringLiteral("Sound quieter than this is not sent; Min sends everything"));
    m_detectButton = new QPushButton(QStringLiteral("Detect"), this);
    m_detectButton->setGeometry(units.ToPixels(133, 109, 37, 14));
    PlaceText(new QLabel(QStringLiteral("Min"), this), units.ToPixels(13, 98, 12, 8));
    PlaceText(new QLabel(QStringLiteral("Max"), this), units.ToPixels(99, 98, 14, 8));

    setTabOrder(m_okButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_serverEdit);
    setTabOrder(m_serverEdit, m_userEdit);
    setTabOrder(m_userEdit, m_passwordEdit);
    setTabOrder(m_passwordEdit, m_noiseSlider);
    setTabOrder(m_noiseSlider, m_detectButton);
    CreateDeviceControls(units);
    m_okButton->setFocus();

    connect(m_okButton, &QPushButton::clicked, this, &CSettingsDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CSettingsDlg::reject);
    connect(m_detectButton, &QPushButton::clicked, this, &CSettingsDlg::OnDetect);
}

// A label that names its field, for the keyboard and for screen readers.
void CSettingsDlg::PlaceLabel(const QString& text, const QRect& rect, QWidget* field)
{
    auto* label = new QLabel(text, this);
    PlaceText(label, rect);
    label->setBuddy(field);
    field->setAccessibleName(text);
}

// After the designed controls, in the tab order too.
void CSettingsDlg::CreateDeviceControls(const DialogUnits& units)
{
    auto* group = new QGroupBox(QStringLiteral("Sound devices"), this);
    group->setGeometry(units.ToPixels(7, 136, 173, 44));
    m_microphoneBox = new QComboBox(this);
    m_microphoneBox->setGeometry(units.ToPixels(55, 147, 117, 14));
    m_speakerBox = new QComboBox(this);
    m_speakerBox->setGeometry(units.ToPixels(55, 163, 117, 14));
    PlaceLabel(QStringLiteral("Microphone"), units.ToPixels(15, 150, 38, 8), m_microphoneBox);
    PlaceLabel(QStringLiteral("Speaker"), units.ToPixels(15, 166, 38, 8), m_speakerBox);
    using Devices = std::vector<SoundDevice>;
    FillDevices(m_microphoneBox, m_catalog ? m_catalog->Microphones() : Devices(),
                m_keys.Get(kMicrophoneKey));
    FillDevices(m_speakerBox, m_catalog ? m_catalog->Speakers() : Devices(),
                m_keys.Get(kSpeakerKey));
    setTabOrder(m_detectButton, m_microphoneBox);
    setTabOrder(m_microphoneBox, m_speakerBox);
    m_protocolChoice = new ProtocolChoice(this, units, kProtocolTop);
    setTabOrder(m_speakerBox, m_protocolChoice->m_versionBox);
}

// "Default" first; a chosen device that is not there now stays on offer,
// marked, so that an OK does not lose it while it is unplugged.
void CSettingsDlg::FillDevices(QComboBox* box, const std::vector<SoundDevice>& devices,
                               const std::string& chosen)
{
    box->addItem(QStringLiteral("Default"), QString());
    for (const SoundDevice& device : devices)
        box->addItem(QString::fromStdString(device.name), QString::fromStdString(device.id));
    const QString id = QString::fromStdString(chosen);
    if (!id.isEmpty() && box->findData(id) < 0)
        box->addItem(id + QStringLiteral(" (not connected)"), id);
    box->setCurrentIndex(std::max(0, box->findData(id)));
}

void CSettingsDlg::ShowValues()
{
    m_serverEdit->SetTextUnchecked(m_strServer);
    m_passwordEdit->SetTextUnchecked(m_strPassword);
    m_userEdit->SetTextUnchecked(m_strUser);
    m_noiseSlider->setRange(kNoiseMin, kNoiseMax);
    m_nNoise = m_nFileNoise;
    // The track bar clamps a position from outside its range.
    m_noiseSlider->setValue(m_nNoise);
    m_protocolChoice->Show(m_fileProtocol);
}

void CSettingsDlg::accept()
{
    for (LimitedLineEdit* edit : {m_serverEdit, m_passwordEdit, m_userEdit}) {
        if (!edit->CheckLength(this))
            return;
    }
    // The file separates its words at white space; a space would silently
    // cut the field on the next read.
    for (LimitedLineEdit* edit : {m_serverEdit, m_passwordEdit, m_userEdit}) {
        if (HoldsWhiteSpace(edit->text()))
            return Refuse(edit, QStringLiteral("Spaces cannot be stored in VOIP.set."));
    }
    // The user name goes into the call request, whose fields these separate.
    if (m_userEdit->text().contains(QLatin1Char(';')) ||
        m_userEdit->text().contains(QLatin1Char('=')))
        return Refuse(m_userEdit, QStringLiteral("The user name cannot contain ';' or '='."));
    m_strServer = m_serverEdit->text();
    m_strPassword = m_passwordEdit->text();
    m_strUser = m_userEdit->text();
    m_nNoise = m_noiseSlider->value();
    m_keys.Set(kMicrophoneKey, m_microphoneBox->currentData().toString().toStdString());
    m_keys.Set(kSpeakerKey, m_speakerBox->currentData().toString().toStdString());
    StoreProtocol();
    QDialog::accept();
}

// Only a changed choice rewrites the protocol lines: an OK that changed
// nothing there leaves them as the file has them, in any spelling.
void CSettingsDlg::StoreProtocol()
{
    const ProtocolSettings chosen = m_protocolChoice->Chosen();
    const bool same = chosen.version == m_fileProtocol.version &&
                      chosen.registerForCalls == m_fileProtocol.registerForCalls &&
                      chosen.codecs == m_fileProtocol.codecs;
    if (!same)
        StoreProtocolSettings(chosen, m_keys);
}

void CSettingsDlg::Refuse(LimitedLineEdit* edit, const QString& message)
{
    QMessageBox::warning(this, QStringLiteral("Velnar"), message);
    edit->setFocus();
    edit->selectAll();
}

void CSettingsDlg::OnDetect()
{
    m_nNoise = kDetectedNoisePosition;
    m_noiseSlider->setValue(m_nNoise);
    m_protocolChoice->Show(m_fileProtocol);
}

}  // namespace velnar
