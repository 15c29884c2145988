#include "ui/settings_dlg.h"

#include "settings/settings_file.h"
#include "ui/dialog_units.h"
#include "ui/limited_line_edit.h"

#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

namespace velnar {

namespace {

constexpr int kNoiseMin = 0;
constexpr int kNoiseMax = 1000;

bool HoldsWhiteSpace(const QString& text)
{
    for (QChar c : text)
        if (c.isSpace())
            return true;
    return false;
}

}  // namespace

CSettingsDlg::CSettingsDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
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
}

void CSettingsDlg::CreateControls()
{
    setWindowTitle(QStringLiteral("Settings"));
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(QSize(187, 160)));

    // Created in template order, which is also the tab order.
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setGeometry(units.ToPixels(34, 139, 50, 14));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setGeometry(units.ToPixels(94, 139, 50, 14));
    m_serverEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_serverEdit->setGeometry(units.ToPixels(71, 14, 90, 14));
    m_userEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_userEdit->setGeometry(units.ToPixels(71, 32, 90, 14));
    m_passwordEdit = new LimitedLineEdit(kMaxFieldChars, this);
    m_passwordEdit->setGeometry(units.ToPixels(71, 51, 90, 14));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    PlaceText(new QLabel(QStringLiteral("Server address"), this), units.ToPixels(16, 17, 48, 8));
    PlaceText(new QLabel(QStringLiteral("User name"), this), units.ToPixels(16, 35, 34, 8));
    PlaceText(new QLabel(QStringLiteral("Password"), this), units.ToPixels(16, 52, 31, 8));
    auto* group = new QGroupBox(QStringLiteral("Noise"), this);
    group->setGeometry(units.ToPixels(7, 85, 173, 48));
    m_noiseSlider = new QSlider(Qt::Horizontal, this);
    m_noiseSlider->setGeometry(units.ToPixels(15, 110, 100, 15));
    m_noiseSlider->setTickPosition(QSlider::NoTicks);
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
    m_okButton->setFocus();

    connect(m_okButton, &QPushButton::clicked, this, &CSettingsDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CSettingsDlg::reject);
    connect(m_detectButton, &QPushButton::clicked, this, &CSettingsDlg::OnDetect);
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
    QDialog::accept();
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
}

}  // namespace velnar
