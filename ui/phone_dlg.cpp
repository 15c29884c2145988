#include "ui/phone_dlg.h"

#include "engine/iax_phone.h"
#include "mixer/mixer_fader.h"
#include "platform/mixer_codes.h"
#include "settings/call_target.h"
#include "settings/settings_file.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/settings_dlg.h"
#include "ui/status_line.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace velnar {

namespace {

struct KeyPlace {
    int x, y;
};
// The keypad in the order of kKeyChars, dialog units; every key is 16 x 14.
constexpr KeyPlace kKeyPlaces[CPhoneDlg::kKeyCount] = {
    {21, 56}, {42, 56}, {64, 56}, {21, 74},  {42, 74},  {64, 74},
    {21, 93}, {42, 93}, {64, 93}, {21, 111}, {42, 111}, {64, 111},
};

}  // namespace

CPhoneDlg::CPhoneDlg(PhoneDlgOptions options)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_messagesDlg(std::make_unique<CMessagesDlg>())
{
    setWindowTitle(QStringLiteral("VOIP"));
    setWindowIcon(AppIcon());
    // The program runs this dialog modally. Window-modal without a parent,
    // it blocks no other window, so the messages window (which has no
    // owner) stays usable meanwhile.
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    CreateMenu();
    layout->setMenuBar(m_menuBar);
    layout->addWidget(CreateControls());
    OnInitDialog(options);
}

CPhoneDlg::~CPhoneDlg()
{
    // The engine goes first, while the status line and the messages window
    // it reports to still exist; a call in progress is not hung up.
    m_pPhone.reset();
    m_messagesDlg.reset();
    delete m_inputFader;
    delete m_outputFader;
}

void CPhoneDlg::CreateMenu()
{
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("E&xit"), this, &CPhoneDlg::accept);
    QMenu* options = m_menuBar->addMenu(QStringLiteral("&Options"));
    options->addAction(QStringLiteral("&Settings"), this, &CPhoneDlg::OnSettings);
    options->addAction(QStringLiteral("Show messages"), this, &CPhoneDlg::OnShowMessages);
    // The desktop offers no system menu to hang About on.
    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Velnar..."), this, &CPhoneDlg::OnAbout);
}

QWidget* CPhoneDlg::CreateControls()
{
    auto* client = new QWidget(this);
    const DialogUnits units(font());
    client->setFixedSize(units.ToPixels(QSize(167, 222)));

    PlaceText(new QLabel(QStringLiteral("Phone number"), client), units.ToPixels(16, 15, 62, 8));
    m_numberEdit = new LimitedLineEdit(kMaxNumberChars, client);
    m_numberEdit->setGeometry(units.ToPixels(16, 27, 132, 14));
    m_numberEdit->setAlignment(Qt::AlignRight);
    (new QGroupBox(client))->setGeometry(units.ToPixels(15, 43, 71, 87));
    CreateKeypad(client, units);

    m_callButton = new QPushButton(QStringLiteral("Call"), client);
    m_callButton->setGeometry(units.ToPixels(96, 74, 50, 14));
    connect(m_callButton, &QPushButton::clicked, this, &CPhoneDlg::OnCall);
    m_hangUpButton = new QPushButton(QStringLiteral("Hang up"), client);
    m_hangUpButton->setGeometry(units.ToPixels(96, 93, 50, 14));
    connect(m_hangUpButton, &QPushButton::clicked, this, &CPhoneDlg::OnHangUp);

    PlaceText(new QLabel(QStringLiteral("Input volume"), client), units.ToPixels(27, 138, 39, 8));
    PlaceText(new QLabel(QStringLiteral("Output volume"), client), units.ToPixels(27, 164, 44, 8));

    m_status = new StatusLine(QStringLiteral("Ready"), client);
    m_status->setGeometry(units.ToPixels(7, 206, 153, 12));
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    // Enter anywhere but on a button is the dialog's OK (keyPressEvent), so
    // no button may take it over as an automatic default.
    for (QPushButton* button : client->findChildren<QPushButton*>())
        button->setAutoDefault(false);
    return client;
}

void CPhoneDlg::CreateKeypad(QWidget* client, const DialogUnits& units)
{
    for (int i = 0; i < kKeyCount; ++i) {
        const char key = kKeyChars[i];
        m_keys[i] = new QPushButton(QStringLiteral("&") + QLatin1Char(key), client);
        m_keys[i]->setGeometry(units.ToPixels(kKeyPlaces[i].x, kKeyPlaces[i].y, 16, 14));
        connect(m_keys[i], &QPushButton::clicked, this, [this, key] { OnDigit(key); });
    }
}

void CPhoneDlg::OnInitDialog(PhoneDlgOptions& options)
{
    QWidget* client = m_numberEdit->parentWidget();
    const DialogUnits units(font());
    m_outputFader = new CMixerFader(options.devices.mixer, client);
    m_outputFader->setGeometry(units.ToPixels(27, 176, 100, 15));
    m_inputFader = new CMixerFader(options.devices.mixer, client);
    m_inputFader->setGeometry(units.ToPixels(27, 148, 100, 15));
    SetTabOrder();
    // A fader that cannot be bound stays disabled; that is all the user
    // needs to see of it.
    m_outputFader->Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                        MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN);
    m_inputFader->Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                       MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN);
    // The focus starts on the first control of the tab order that can take
    // it: the output fader, or Call when the fader could not be bound.
    (m_outputFader->isEnabled() ? static_cast<QWidget*>(m_outputFader) : m_callButton)->setFocus();
    m_pPhone = std::make_unique<CIaxPhone>(*this, std::move(options.devices.waveIn),
                                           std::move(options.devices.waveOut), options.localPort);
}

void CPhoneDlg::SetTabOrder()
{
    // The template's order: output volume, Call, input volume, the number,
    // Hang up, then the keypad row by row.
    QWidget* order[] = {m_outputFader, m_callButton, m_inputFader, m_numberEdit, m_hangUpButton};
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
    for (QPushButton* key : m_keys) {
        setTabOrder(previous, key);
        previous = key;
    }
}

void CPhoneDlg::ShowStatus(const std::string& text)
{
    const QString status = QString::fromStdString(text);
    m_status->ShowText(status);
    m_messagesDlg->AddString(status);
}

void CPhoneDlg::LoadSettingsAtCall()
{
    StoredSettings stored;
    if (!LoadSettingsFile(kSettingsFileName, stored))
        return;
    m_strUser = QString::fromStdString(stored.user);
    m_strPassword = QString::fromStdString(stored.password);
    m_strServer = QString::fromStdString(stored.server);
    SetNoiseThreshold(stored.noisePosition);
}

void CPhoneDlg::SetNoiseThreshold(int noisePosition)
{
    if (m_pPhone)
        m_pPhone->m_nNoiseThreshold = NoiseThreshold(noisePosition);
}

void CPhoneDlg::OnCall()
{
    if (m_strServer.isEmpty())
        LoadSettingsAtCall();
    const CallTarget target = MakeCallTarget(
        {m_strUser.toStdString(), m_strPassword.toStdString(), m_strServer.toStdString()},
        m_numberEdit->text().toStdString());
    if (m_pPhone)
        m_pPhone->Dial(target);
}

void CPhoneDlg::OnHangUp()
{
    if (m_pPhone)
        m_pPhone->HangUp();
}

void CPhoneDlg::OnDigit(char key)
{
    if (m_pPhone && m_pPhone->IsInCall()) {
        m_pPhone->SendTones(std::string(1, key));
        return;
    }
    // The keypad may go past the typing limit.
    m_numberEdit->SetTextUnchecked(m_numberEdit->text() + QLatin1Char(key));
}

void CPhoneDlg::OnSettings()
{
    CSettingsDlg dialog(this);
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_strServer = dialog.m_strServer;
    m_strUser = dialog.m_strUser;
    m_strPassword = dialog.m_strPassword;
    // The working copy and the threshold take the new values even when the
    // file cannot be written; the user is told they will not outlive the run.
    std::string why;
    const bool saved = m_saveSettings({m_strUser.toStdString(), m_strPassword.toStdString(),
                                       m_strServer.toStdString(), dialog.m_nNoise},
                                      why);
    SetNoiseThreshold(dialog.m_nNoise);
    if (!saved)
        QMessageBox::warning(this, QStringLiteral("Velnar"),
                             QStringLiteral("Settings could not be saved to VOIP.set (%1). They "
                                            "apply until Velnar exits.")
                                 .arg(QString::fromStdString(why)));
}

void CPhoneDlg::OnShowMessages()
{
    m_messagesDlg->ShowAndActivate();
}

void CPhoneDlg::OnAbout()
{
    CAboutDlg about(this);
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

void CPhoneDlg::accept()
{
    if (!m_numberEdit->CheckLength(this))
        return;
    m_strNumber = m_numberEdit->text();
    QDialog::accept();
}

void CPhoneDlg::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    // Enter presses the button that has the focus; anywhere else it is OK.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
        button->click();
    else
        accept();
}

}  // namespace velnar
