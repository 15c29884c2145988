#include "ui/phone_dlg.h"

#include "engine/iax_phone.h"
#include "mixer/mixer_fader.h"
#include "platform/mixer_codes.h"
#include "settings/call_target.h"
#include "settings/settings_file.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/call_info_line.h"
#include "ui/call_stats_dlg.h"
#include "ui/desktop_notifier.h"
#include "ui/dialog_units.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/registration_line.h"
#include "ui/settings_dlg.h"
#include "ui/status_line.h"

#include <QApplication>
#include <QEventLoop>
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

// The strip under the status line, with the call information alone and
// with the registration line too (dialog units).
constexpr int kInfoStripUnits = 12;
constexpr int kInfoStripWithRegistrationUnits = 22;

QString KeyDescription(char key)
{
    if (key == '*')
        return QStringLiteral("star");
    if (key == '#')
        return QStringLiteral("hash");
    return QStringLiteral("digit ") + QLatin1Char(key);
}

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
    layout->addWidget(CreateInfoLine());
    OnInitDialog(options);
    m_statsDlg = std::make_unique<CCallStatsDlg>(
        [this] { return m_pPhone ? m_pPhone->Figures() : CallFigures(); });
    m_infoTimer.setInterval(1000);
    connect(&m_infoTimer, &QTimer::timeout, this, &CPhoneDlg::RefreshInfoLine);
}

CPhoneDlg::~CPhoneDlg()
{
    // The engine goes first, while the status line and the messages window
    // it reports to still exist. The statistics window reads the engine, so
    // it goes before.
    AwaitHangUpAcknowledged();
    m_statsDlg.reset();
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
    // No mnemonic: S stays the one of Settings.
    options->addAction(QStringLiteral("Call statistics"), this, &CPhoneDlg::OnCallStatistics);
    // The desktop offers no system menu to hang About on.
    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Velnar..."), this, &CPhoneDlg::OnAbout);
}

QWidget* CPhoneDlg::CreateControls()
{
    auto* client = new QWidget(this);
    const DialogUnits units(font());
    client->setFixedSize(units.ToPixels(QSize(167, 222)));

    auto* numberLabel = new QLabel(QStringLiteral("Phone number"), client);
    PlaceText(numberLabel, units.ToPixels(16, 15, 62, 8));
    m_numberEdit = new LimitedLineEdit(kMaxNumberChars, client);
    numberLabel->setBuddy(m_numberEdit);
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
    m_numberEdit->setAccessibleName(QStringLiteral("Phone number"));

    m_status = new StatusLine(QStringLiteral("Ready"), client);
    m_status->setGeometry(units.ToPixels(7, 206, 153, 12));
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    // Enter anywhere but on a button is the dialog's OK (keyPressEvent), so
    // no button may take it over as an automatic default.
    for (QPushButton* button : client->findChildren<QPushButton*>())
        button->setAutoDefault(false);
    return client;
}

// Under the status line's rectangle, as wide as the dialog: the call
// information, and under it the registration while version 2 is selected.
QWidget* CPhoneDlg::CreateInfoLine()
{
    m_infoStrip = new QWidget(this);
    const DialogUnits units(font());
    m_infoStrip->setFixedSize(units.ToPixels(QSize(167, kInfoStripUnits)));
    m_infoLine = new CallInfoLine(m_infoStrip);
    m_infoLine->setGeometry(units.ToPixels(7, 0, 153, 10));
    m_registrationLine = new RegistrationLine(m_infoStrip);
    m_registrationLine->setGeometry(units.ToPixels(7, 10, 153, 10));
    m_registrationLine->hide();
    return m_infoStrip;
}

// Keys, faders and labels as a screen reader should name them; the faders
// exist only once the dialog is initialised.
void CPhoneDlg::NameControls(QWidget* client)
{
    for (QLabel* label : client->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->text() == QLatin1String("Input volume"))
            label->setBuddy(m_inputFader);
        else if (label->text() == QLatin1String("Output volume"))
            label->setBuddy(m_outputFader);
    }
    m_inputFader->setAccessibleName(QStringLiteral("Input volume"));
    m_inputFader->setAccessibleDescription(QStringLiteral("Microphone volume"));
    m_outputFader->setAccessibleName(QStringLiteral("Output volume"));
    m_outputFader->setAccessibleDescription(QStringLiteral("Speaker volume"));
    m_status->setAccessibleDescription(QStringLiteral("Status"));
}

void CPhoneDlg::CreateKeypad(QWidget* client, const DialogUnits& units)
{
    for (int i = 0; i < kKeyCount; ++i) {
        const char key = kKeyChars[i];
        m_keys[i] = new QPushButton(QStringLiteral("&") + QLatin1Char(key), client);
        m_keys[i]->setGeometry(units.ToPixels(kKeyPlaces[i].x, kKeyPlaces[i].y, 16, 14));
        m_keys[i]->setAccessibleName(QString(QLatin1Char(key)));
        m_keys[i]->setAccessibleDescription(KeyDescription(key));
        connect(m_keys[i], &QPushButton::clicked, this, [this, key] { OnDigit(key); });
    }
}

void CPhoneDlg::OnInitDialog(PhoneDlgOptions& options)
{
    QWidget* client = m_numberEdit->parentWidget();
    const DialogUnits units(font());
    m_catalog = options.devices.catalog;
    m_outputFader = new CMixerFader(options.devices.mixer, client);
    m_outputFader->setGeometry(units.ToPixels(27, 176, 100, 15));
    m_inputFader = new CMixerFader(options.devices.mixer, client);
    m_inputFader->setGeometry(units.ToPixels(27, 148, 100, 15));
    SetTabOrder();
    NameControls(client);
    // A fader that cannot be bound stays disabled; that is all the user
    // needs to see of it.
    m_outputFader->Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, NO_SOURCE_LINE,
                        MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN);
    m_inputFader->Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                       MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::MAIN);
    // The focus starts on the first control of the tab order that can take
    // it: the output fader, or Call when the fader could not be bound.
    (m_outputFader->isEnabled() ? static_cast<QWidget*>(m_outputFader) : m_callButton)->setFocus();
    CreateEngine(options);
}

// The engine starts with the protocol the settings file names, so that a
// phone that registers does so at once. Only the protocol is taken from the
// file here: the working copy still fills at the first Call.
void CPhoneDlg::CreateEngine(PhoneDlgOptions& options)
{
    StoredSettings stored;
    const bool read = LoadSettingsFile(kSettingsFileName, stored);
    m_protocol = ReadProtocolSettings(stored.keys);
    m_pPhone = std::make_unique<CIaxPhone>(*this, std::move(options.devices.waveIn),
                                           std::move(options.devices.waveOut), options.localPort,
                                           m_protocol);
    if (read && m_protocol.version == 2)
        m_pPhone->UseProtocol(m_protocol, MakeCallTarget(stored, std::string()));
    ShowRegistration(m_pPhone->RegistrationState());
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
    RefreshInfoLine();
}

// A version-2 call waits for Call or Hang up: the line under the status
// says so for as long as it rings.
void CPhoneDlg::IncomingCall(const std::string& caller)
{
    m_ringingCaller = QString::fromStdString(caller);
    RefreshInfoLine();
    if (isActiveWindow())
        return;
    DesktopNotifier().Notify(QStringLiteral("Incoming call"),
                             IncomingCallBody(QString::fromStdString(caller)));
    QApplication::alert(this);
}

void CPhoneDlg::RegistrationChanged(const std::string& state)
{
    ShowRegistration(state);
}

// Never in the title or the status line: the line grows the window by one
// row while version 2 is selected, and version 1's window stays as it was.
void CPhoneDlg::ShowRegistration(const std::string& state)
{
    const bool version2 = m_protocol.version == 2;
    m_registrationLine->ShowState(version2 ? QString::fromStdString(state) : QString());
    m_registrationLine->setVisible(version2);
    const DialogUnits units(font());
    m_infoStrip->setFixedHeight(
        units.ToPixelsY(version2 ? kInfoStripWithRegistrationUnits : kInfoStripUnits));
}

void CPhoneDlg::RefreshInfoLine()
{
    const CallFigures figures = m_pPhone ? m_pPhone->Figures() : CallFigures();
    if (m_pPhone && m_pPhone->IsRinging())
        m_infoLine->ShowRinging(m_ringingCaller);
    else
        m_infoLine->ShowCall(figures);
    const bool follow = figures.connected || (m_pPhone && m_pPhone->IsInCall());
    if (follow && !m_infoTimer.isActive())
        m_infoTimer.start();
    else if (!follow)
        m_infoTimer.stop();
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
    ChooseDevices(stored.keys);
}

void CPhoneDlg::ChooseDevices(const SettingsKeys& keys)
{
    if (m_pPhone)
        m_pPhone->ChooseDevices(m_catalog, keys.Get(kMicrophoneKey), keys.Get(kSpeakerKey));
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
    if (!m_pPhone)
        return;
    // A version-2 call ringing here is answered, whatever the number field
    // holds.
    if (m_pPhone->IsRinging())
        m_pPhone->AnswerIncoming();
    else
        m_pPhone->Dial(TargetFor(m_numberEdit->text().toStdString()));
}

CallTarget CPhoneDlg::TargetFor(const std::string& number) const
{
    StoredSettings working{m_strUser.toStdString(), m_strPassword.toStdString(),
                           m_strServer.toStdString()};
    StoreProtocolSettings(m_protocol, working.keys);
    return MakeCallTarget(working, number);
}

// The engine learns a new protocol or account; a choice that stays on
// version 1 has nothing for it (version 1 neither registers nor chooses
// codecs).
void CPhoneDlg::ApplyProtocol(const SettingsKeys& keys)
{
    const ProtocolSettings previous = m_protocol;
    m_protocol = ReadProtocolSettings(keys);
    if (!m_pPhone)
        return;
    if (previous.version == 2 || m_protocol.version == 2)
        m_pPhone->UseProtocol(m_protocol, TargetFor(std::string()));
    ShowRegistration(m_pPhone->RegistrationState());
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
    CSettingsDlg dialog(this, m_catalog);
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
                                       m_strServer.toStdString(), dialog.m_nNoise, dialog.m_keys},
                                      why);
    SetNoiseThreshold(dialog.m_nNoise);
    ChooseDevices(dialog.m_keys);
    ApplyProtocol(dialog.m_keys);
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

void CPhoneDlg::OnCallStatistics()
{
    m_statsDlg->ShowAndActivate();
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

void CPhoneDlg::done(int result)
{
    if (m_pPhone && m_pPhone->IsInCall())
        m_pPhone->HangUp();
    QDialog::done(result);
}

// The window is gone by now; the program ends only when the far end has had
// the hang-up, so that its call does not stay up (a second at most).
void CPhoneDlg::AwaitHangUpAcknowledged()
{
    if (!m_pPhone)
        return;
    QEventLoop loop;
    bool acknowledged = false;
    m_pPhone->HangUpBeforeExit(kExitHangUpWaitMs, [&] {
        acknowledged = true;
        loop.quit();
    });
    if (!acknowledged)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
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
