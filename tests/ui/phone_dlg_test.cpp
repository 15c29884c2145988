// The main dialog with the real engine and IAX library on an ephemeral UDP
// port, calling a scripted peer on 127.0.0.1; in-memory wave devices and
// mixer stand in for the sound card.
#include "ui/phone_dlg.h"
#include "engine/iax_phone.h"
#include "iax/iax.h"
#include "mixer/mixer_fader.h"
#include "modal_driver.h"
#include "platform/doubles/fake_mixer_device.h"
#include "platform/doubles/fake_wave_device.h"
#include "tests/support/echo_peer_process.h"
#include "tests/support/iax_test_peer.h"
#include "tests/support/md5_reference.h"
#include "ui/about_dlg.h"
#include "ui/call_info_line.h"
#include "ui/call_stats_dlg.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/protocol_choice.h"
#include "ui/registration_line.h"
#include "ui/settings_dlg.h"
#include "ui/status_line.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>
#include <optional>

using namespace velnar;
using namespace iaxpeer;
using velnar::testing::AnswerNextMessageBox;
using velnar::testing::SeenMessageBox;
using velnar::testing::WhenModal;

namespace {

constexpr int kMaxWaitMs = 3000;  // a safety net for frames that never come

std::optional<std::string> Element(const PeerFrame& frame, const std::string& key)
{
    const auto elements = SplitElements(frame.Text());
    if (!elements)
        return std::nullopt;
    for (const auto& [name, value] : *elements)
        if (name == key)
            return value;
    return std::nullopt;
}

QAction* MenuAction(QMenuBar* bar, const QString& text)
{
    for (QAction* action : bar->findChildren<QAction*>())
        if (action->text() == text)
            return action;
    return nullptr;
}

}  // namespace

class PhoneDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithTemplateTexts();
    void longStatusIsElidedAndKept();
    void tabOrderFollowsTemplate();
    void fadersBindToMixer();
    void fadersThatCannotBindStayDisabled();
    void withoutDevicesFadersStayDisabledAndCallsGoOut();
    void firstCallReadsSettingsFile();
    void callWithoutUserDialsServerAlone();
    void callWithPasswordAnswersChallenge();
    void callWithEmptySettingsDoesNothing();
    void callAfterSettingsOkDoesNotReadFile();
    void settingsOkWritesFileAndThreshold();
    void settingsOkWithUntouchedFields();
    void settingsCancelChangesNothing();
    void settingsUnwritableFileStillUpdates();
    void callRefusesWhatCannotBeSent();
    void keypadAppendsOutsideCall();
    void keypadSendsTonesInCall();
    void overlongNumberRefusesExitAndEnter();
    void enterInNumberFieldEndsDialog();
    void peerHangUpIsLoggedInOrder();
    void closingDuringCallHangsUp();
    void closingAwaitsTheAcknowledgementBriefly();
    void showMessagesShowsEveryText();
    void messagesUsableWhileDialogRuns();
    void aboutFromHelpMenu();
    void callFiguresInInfoLineAndStatisticsWindow();
    void registrationLineOnlyWhileVersion2IsChosen();
    void version2FromTheFileAtStart();
    void version2CallRingsUnderTheStatusAndCallAnswersIt();

private:
    void MakeDialog(std::shared_ptr<MixerDevice> mixer = std::make_shared<FakeMixerDevice>());
    void WriteSettings(const QByteArray& content);
    QByteArray ReadSettings() const;
    QByteArray PeerServer() const;
    // Dials the peer and has it accept the call.
    void EstablishCall();
    QStringList Messages() const;
    int Threshold() const { return m_dialog->m_pPhone->m_nNoiseThreshold; }
    // Confirms Settings with the protocol version and registration given.
    void ChooseProtocol(int version, bool registerForCalls);
    // The line below the status line's rectangle, inside the window.
    void CheckRegistrationLinePlace();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    std::unique_ptr<IaxTestPeer> m_peer;
    std::unique_ptr<CPhoneDlg> m_dialog;
};

void PhoneDlgTest::init()
{
    // VOIP.set lives in the current directory: each test gets its own.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_peer = std::make_unique<IaxTestPeer>();
    QVERIFY(m_peer->Ok());
    m_peer->SetAutoAck(true);
}

void PhoneDlgTest::cleanup()
{
    m_dialog.reset();
    m_peer.reset();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void PhoneDlgTest::MakeDialog(std::shared_ptr<MixerDevice> mixer)
{
    PhoneDlgOptions options;
    options.devices.waveIn = std::make_unique<FakeWaveIn>();
    options.devices.waveOut = std::make_unique<FakeWaveOut>();
    options.devices.mixer = std::move(mixer);
    options.localPort = -1;
    m_dialog = std::make_unique<CPhoneDlg>(std::move(options));
    QVERIFY(m_dialog->m_pPhone);
}

void PhoneDlgTest::WriteSettings(const QByteArray& content)
{
    QFile file(QStringLiteral("VOIP.set"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray PhoneDlgTest::ReadSettings() const
{
    QFile file(QStringLiteral("VOIP.set"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray PhoneDlgTest::PeerServer() const
{
    return "127.0.0.1:" + QByteArray::number(m_peer->Port());
}

void PhoneDlgTest::EstablishCall()
{
    WriteSettings(":@" + PeerServer() + "\n1000");
    m_dialog->m_numberEdit->setText(QStringLiteral("100"));
    m_dialog->m_callButton->click();
    QVERIFY2(m_peer->ExpectIax(kNew), m_peer->LastError().c_str());
    m_peer->SendIax(kAccept, "formats=2;");
    QVERIFY(
        QTest::qWaitFor([this] { return m_dialog->m_status->text() == "Connected"; }, kMaxWaitMs));
    QVERIFY(m_dialog->m_pPhone->IsInCall());
}

QStringList PhoneDlgTest::Messages() const
{
    QStringList entries;
    for (int row = 0; row < m_dialog->m_messagesDlg->m_list->count(); ++row)
        entries << m_dialog->m_messagesDlg->m_list->item(row)->text();
    return entries;
}

void PhoneDlgTest::startsWithTemplateTexts()
{
    MakeDialog();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("VOIP"));
    // The initial "Ready" is the template's, not a status text.
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    QVERIFY(Messages().isEmpty());
    QVERIFY(!m_dialog->m_messagesDlg->isVisible());
    QCOMPARE(m_dialog->m_callButton->text(), QStringLiteral("Call"));
    QCOMPARE(m_dialog->m_hangUpButton->text(), QStringLiteral("Hang up"));
    QString keys;
    for (QPushButton* key : m_dialog->m_keys) {
        QVERIFY(key->text().startsWith(QLatin1Char('&')));
        keys += key->text().mid(1);
    }
    QCOMPARE(keys, QStringLiteral("123456789*0#"));
    for (const char* item : {"&File", "E&xit", "&Options", "&Settings", "Show messages"})
        QVERIFY2(MenuAction(m_dialog->m_menuBar, QString::fromLatin1(item)), item);

    // Fixed size, and no button is an automatic default (Enter is OK).
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QVERIFY(!(m_dialog->windowFlags() & Qt::WindowMaximizeButtonHint));
    for (QPushButton* button : m_dialog->findChildren<QPushButton*>())
        QVERIFY(!button->autoDefault());
}

void PhoneDlgTest::longStatusIsElidedAndKept()
{
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    StatusLine* status = m_dialog->m_status;
    const QRect place = status->geometry();
    const QString ellipsis(QChar(0x2026));

    const QString longText = QStringLiteral(
        "Incoming call ignored, there's already a call waiting for answer... "
        "please accept or reject first");
    m_dialog->ShowStatus(longText.toStdString());
    QCoreApplication::processEvents();
    // The line keeps its place and size and the whole text; it paints the
    // start of it with an ellipsis that fits within the line.
    QCOMPARE(status->geometry(), place);
    QCOMPARE(status->text(), longText);
    QCOMPARE(status->toolTip(), longText);
    const QString shown = status->ShownText();
    QVERIFY(shown.endsWith(ellipsis));
    QVERIFY(shown.size() > 10);
    QVERIFY(longText.startsWith(shown.chopped(1)));
    QVERIFY(status->fontMetrics().horizontalAdvance(shown) <= status->contentsRect().width());
    QCOMPARE(Messages().last(), longText);

    // A text that fits is painted whole.
    m_dialog->ShowStatus("Connected");
    QCOMPARE(status->ShownText(), QStringLiteral("Connected"));
    QCOMPARE(status->toolTip(), QStringLiteral("Connected"));
    QCOMPARE(status->geometry(), place);
}

void PhoneDlgTest::tabOrderFollowsTemplate()
{
    auto mixer = std::make_shared<FakeMixerDevice>();
    const uint32_t speakers =
        mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master", 1);
    mixer->AddControl(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME, "Master Volume", 0, 65535, 32);
    mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Capture", 1);
    const uint32_t mic = mixer->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", 1);
    mixer->AddControl(mic, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic Volume", 0, 65535, 32);
    MakeDialog(mixer);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_dialog->m_outputFader));
    QList<QWidget*> expected = {m_dialog->m_callButton, m_dialog->m_inputFader,
                                m_dialog->m_numberEdit, m_dialog->m_hangUpButton};
    for (QPushButton* key : m_dialog->m_keys)
        expected << key;
    expected << m_dialog->m_outputFader;
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void PhoneDlgTest::fadersBindToMixer()
{
    auto mixer = std::make_shared<FakeMixerDevice>();
    const uint32_t speakers =
        mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master", 2);
    const uint32_t master =
        mixer->AddControl(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME, "Master Volume", 0, 65535, 32);
    mixer->Values(master) = {65535, 65535};
    mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Capture", 2);
    // A line source that is not the microphone must not be taken for it.
    const uint32_t line = mixer->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line", 1);
    mixer->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Line Volume", 0, 65535, 32);
    const uint32_t mic = mixer->AddSource(1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", 1);
    const uint32_t micVolume =
        mixer->AddControl(mic, MIXERCONTROL_CONTROLTYPE_VOLUME, "Mic Volume", 0, 65535, 32);
    mixer->Values(micVolume) = {32752};
    MakeDialog(mixer);

    QVERIFY(m_dialog->m_outputFader->isEnabled());
    QVERIFY(m_dialog->m_inputFader->isEnabled());
    QCOMPARE(m_dialog->m_outputFader->maximum(), 32);
    QCOMPARE(m_dialog->m_outputFader->value(), 32);
    QCOMPARE(m_dialog->m_inputFader->value(), 16);
    QCOMPARE(m_dialog->m_outputFader->orientation(), Qt::Horizontal);
    QCOMPARE(m_dialog->m_outputFader->tickPosition(), QSlider::NoTicks);
}

void PhoneDlgTest::fadersThatCannotBindStayDisabled()
{
    // A mixer without the speakers and recording lines.
    auto mixer = std::make_shared<FakeMixerDevice>();
    const uint32_t line = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_LINE, "Line out", 2);
    mixer->AddControl(line, MIXERCONTROL_CONTROLTYPE_VOLUME, "Line Volume", 0, 65535, 32);
    MakeDialog(mixer);
    QVERIFY(!m_dialog->m_outputFader->isEnabled());
    QVERIFY(!m_dialog->m_inputFader->isEnabled());

    // The phone works all the same.
    WriteSettings(":@" + PeerServer() + "\n1000");
    m_dialog->m_callButton->click();
    QVERIFY2(m_peer->ExpectIax(kNew), m_peer->LastError().c_str());
}

void PhoneDlgTest::withoutDevicesFadersStayDisabledAndCallsGoOut()
{
    // What start-up hands down when no sound backend could be made.
    PhoneDlgOptions options;
    options.localPort = -1;
    m_dialog = std::make_unique<CPhoneDlg>(std::move(options));
    QVERIFY(!m_dialog->m_outputFader->isEnabled());
    QVERIFY(!m_dialog->m_inputFader->isEnabled());

    WriteSettings(":@" + PeerServer() + "\n1000");
    m_dialog->m_callButton->click();
    const auto newFrame = m_peer->ExpectIax(kNew);
    QVERIFY2(newFrame, m_peer->LastError().c_str());
    // Without a sound device no voice format is offered.
    QCOMPARE(Element(*newFrame, "formats"), std::optional<std::string>("0"));
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Calling..."));
}

void PhoneDlgTest::firstCallReadsSettingsFile()
{
    MakeDialog();
    WriteSettings("alice:secret@" + PeerServer() + "\r\n700");
    QTest::keyClicks(m_dialog->m_numberEdit, QStringLiteral("5551234"));
    m_dialog->m_callButton->click();

    const auto newFrame = m_peer->ExpectIax(kNew);
    QVERIFY2(newFrame, m_peer->LastError().c_str());
    QCOMPARE(Element(*newFrame, "exten"), std::optional<std::string>("5551234"));
    QCOMPARE(Element(*newFrame, "username"), std::optional<std::string>("alice"));
    QVERIFY(newFrame->Text().find("secret") == std::string::npos);
    QCOMPARE(m_dialog->m_strUser, QStringLiteral("alice"));
    QCOMPARE(m_dialog->m_strPassword, QStringLiteral("secret"));
    QCOMPARE(m_dialog->m_strServer, QString::fromLatin1(PeerServer()));
    QCOMPARE(Threshold(), 22);
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Calling..."));
    QCOMPARE(Messages(), QStringList{QStringLiteral("Calling...")});
}

void PhoneDlgTest::callWithoutUserDialsServerAlone()
{
    MakeDialog();
    // A file without a number: the position is 1000, threshold 1.
    m_dialog->m_pPhone->m_nNoiseThreshold = 500;
    WriteSettings(":@" + PeerServer() + "\n");
    m_dialog->m_callButton->click();

    const auto newFrame = m_peer->ExpectIax(kNew);
    QVERIFY2(newFrame, m_peer->LastError().c_str());
    QCOMPARE(Element(*newFrame, "username"), std::nullopt);
    QCOMPARE(Element(*newFrame, "exten"), std::nullopt);
    QCOMPARE(Threshold(), 1);
}

void PhoneDlgTest::callWithPasswordAnswersChallenge()
{
    MakeDialog();
    WriteSettings("alice:s3cret@" + PeerServer() + "\n1000");
    m_dialog->m_numberEdit->setText(QStringLiteral("100"));
    m_dialog->m_callButton->click();
    QVERIFY2(m_peer->ExpectIax(kNew), m_peer->LastError().c_str());

    m_peer->SendIax(kAuthReq, "methods=md5;challenge=81726354;username=alice;");
    std::optional<PeerFrame> reply;
    QVERIFY(QTest::qWaitFor(
        [&] {
            reply = m_peer->ExpectIax(kAuthRep, 0);
            return reply.has_value();
        },
        kMaxWaitMs));
    QCOMPARE(Element(*reply, "md5secret"), std::optional<std::string>(Md5Hex("81726354s3cret")));
}

void PhoneDlgTest::callWithEmptySettingsDoesNothing()
{
    MakeDialog();
    m_dialog->m_pPhone->m_nNoiseThreshold = 500;
    m_dialog->m_callButton->click();
    QCoreApplication::processEvents();
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    QVERIFY(Messages().isEmpty());
    QVERIFY(!m_dialog->m_pPhone->IsInCall());
    QCOMPARE(Threshold(), 500);
    QVERIFY(!QFile::exists(QStringLiteral("VOIP.set")));
}

void PhoneDlgTest::callAfterSettingsOkDoesNotReadFile()
{
    MakeDialog();
    IaxTestPeer other;
    QVERIFY(other.Ok());
    WhenModal<CSettingsDlg>([this](CSettingsDlg* settings) {
        settings->m_serverEdit->setText(QString::fromLatin1(PeerServer()));
        settings->m_okButton->click();
    });
    m_dialog->OnSettings();

    // The file now names another server; the working copy wins.
    WriteSettings(":@127.0.0.1:" + QByteArray::number(other.Port()) + "\n0");
    m_dialog->m_callButton->click();
    QVERIFY2(m_peer->ExpectIax(kNew), m_peer->LastError().c_str());
    QVERIFY(other.ExpectSilence(0));
    QCOMPARE(Threshold(), 1);
}

void PhoneDlgTest::settingsOkWritesFileAndThreshold()
{
    MakeDialog();
    WhenModal<CSettingsDlg>([](CSettingsDlg* settings) {
        QTest::keyClicks(settings->m_serverEdit, QStringLiteral("pbx.example.net"));
        QTest::keyClicks(settings->m_userEdit, QStringLiteral("bob"));
        QTest::keyClicks(settings->m_passwordEdit, QStringLiteral("pw"));
        settings->m_detectButton->click();
        settings->m_okButton->click();
    });
    m_dialog->OnSettings();

    QCOMPARE(ReadSettings(), QByteArray("bob:pw@pbx.example.net\n700"));
    struct stat info {};
    QCOMPARE(stat("VOIP.set", &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    QCOMPARE(Threshold(), 22);
    QCOMPARE(m_dialog->m_strServer, QStringLiteral("pbx.example.net"));
    QCOMPARE(m_dialog->m_strUser, QStringLiteral("bob"));
    QCOMPARE(m_dialog->m_strPassword, QStringLiteral("pw"));

    // The next Settings shows the file; after deleting it, empty fields,
    // while the main dialog keeps the confirmed values.
    QVERIFY(QFile::remove(QStringLiteral("VOIP.set")));
    QString shownServer = QStringLiteral("<not shown>");
    WhenModal<CSettingsDlg>([&shownServer](CSettingsDlg* settings) {
        shownServer = settings->m_serverEdit->text();
        settings->m_cancelButton->click();
    });
    m_dialog->OnSettings();
    QVERIFY(shownServer.isEmpty());
    QCOMPARE(m_dialog->m_strServer, QStringLiteral("pbx.example.net"));
}

void PhoneDlgTest::settingsOkWithUntouchedFields()
{
    MakeDialog();
    m_dialog->m_pPhone->m_nNoiseThreshold = 500;
    WhenModal<CSettingsDlg>([](CSettingsDlg* settings) { settings->m_okButton->click(); });
    m_dialog->OnSettings();
    QCOMPARE(ReadSettings(), QByteArray(":@\n1000"));
    QCOMPARE(Threshold(), 1);
}

void PhoneDlgTest::settingsCancelChangesNothing()
{
    MakeDialog();
    WriteSettings("alice:pw@pbx\n300");
    m_dialog->m_pPhone->m_nNoiseThreshold = 500;
    WhenModal<CSettingsDlg>([](CSettingsDlg* settings) {
        QCOMPARE(settings->m_serverEdit->text(), QStringLiteral("pbx"));
        settings->m_serverEdit->setText(QStringLiteral("elsewhere"));
        settings->m_detectButton->click();
        settings->m_cancelButton->click();
    });
    m_dialog->OnSettings();
    QCOMPARE(ReadSettings(), QByteArray("alice:pw@pbx\n300"));
    QCOMPARE(Threshold(), 500);
    QVERIFY(m_dialog->m_strServer.isEmpty());
    QVERIFY(m_dialog->m_strUser.isEmpty());
}

void PhoneDlgTest::settingsUnwritableFileStillUpdates()
{
    MakeDialog();
    // A directory where the file should be: the write fails (permissions
    // would not stop root).
    QVERIFY(QDir().mkdir(QStringLiteral("VOIP.set")));
    SeenMessageBox seen;
    WhenModal<CSettingsDlg>([&seen](CSettingsDlg* settings) {
        settings->m_serverEdit->setText(QStringLiteral("pbx"));
        settings->m_detectButton->click();
        AnswerNextMessageBox(seen);
        settings->m_okButton->click();
    });
    m_dialog->OnSettings();
    QCOMPARE(m_dialog->m_strServer, QStringLiteral("pbx"));
    QCOMPARE(Threshold(), 22);
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("Settings could not be saved to VOIP.set (Is a "
                                       "directory). They apply until Velnar exits."));
}

void PhoneDlgTest::callRefusesWhatCannotBeSent()
{
    MakeDialog();
    struct Case {
        QByteArray settings;
        const char* number;
        QStringList statuses;
    } cases[] = {
        {"alice:pw@" + PeerServer(), "600;username=mallory", {"Invalid number", "Ready"}},
        {"alice:pw@" + PeerServer(), "600=1", {"Invalid number", "Ready"}},
        {"alice:" + QByteArray(80, 'p') + "@" + PeerServer(),
         "600",
         {"Password too long", "Ready"}},
        {"alice:pw@127.0.0.1:70000",
         "600",
         {"Calling...", "Cannot connect- bad server name? ", "Hanging up...", "Ready"}},
    };
    for (const Case& c : cases) {
        m_dialog->m_strServer.clear();  // read the file at the Call
        WriteSettings(c.settings);
        const int before = Messages().size();
        m_dialog->m_numberEdit->setText(QString::fromLatin1(c.number));
        m_dialog->m_callButton->click();
        QCOMPARE(Messages().mid(before), c.statuses);
        QVERIFY(!m_dialog->m_pPhone->IsInCall());
    }
    QVERIFY2(m_peer->ExpectSilence(50), "nothing may be sent");
}

void PhoneDlgTest::keypadAppendsOutsideCall()
{
    MakeDialog();
    for (QPushButton* key : m_dialog->m_keys)
        key->click();
    QCOMPARE(m_dialog->m_numberEdit->text(), QStringLiteral("123456789*0#"));
    // Past the typing limit of 32.
    for (int i = 0; i < 3; ++i)
        for (QPushButton* key : m_dialog->m_keys)
            key->click();
    QCOMPARE(m_dialog->m_numberEdit->text().size(), 48);
    QVERIFY(m_dialog->m_numberEdit->text().endsWith(QStringLiteral("*0#")));
    QVERIFY(m_peer->ExpectSilence(0));
}

void PhoneDlgTest::keypadSendsTonesInCall()
{
    MakeDialog();
    EstablishCall();
    m_dialog->m_keys[4]->click();   // "5"
    m_dialog->m_keys[11]->click();  // "#"
    QCOMPARE(m_dialog->m_numberEdit->text(), QStringLiteral("100"));
    QVERIFY2(m_peer->ExpectFull(kDtmf, '5'), m_peer->LastError().c_str());
    QVERIFY2(m_peer->ExpectFull(kDtmf, '#'), m_peer->LastError().c_str());
}

void PhoneDlgTest::overlongNumberRefusesExitAndEnter()
{
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    for (int i = 0; i < 3; ++i)
        for (QPushButton* key : m_dialog->m_keys)
            key->click();
    QCOMPARE(m_dialog->m_numberEdit->text().size(), 36);

    // Typing adds nothing to an over-long number.
    m_dialog->m_numberEdit->setFocus();
    QTest::keyClicks(m_dialog->m_numberEdit, QStringLiteral("7"));
    QCOMPARE(m_dialog->m_numberEdit->text().size(), 36);

    SeenMessageBox exitBox;
    AnswerNextMessageBox(exitBox);
    MenuAction(m_dialog->m_menuBar, QStringLiteral("E&xit"))->trigger();
    QVERIFY(exitBox.seen);
    QCOMPARE(exitBox.text, QStringLiteral("Please enter no more than 32 characters."));
    QCOMPARE(exitBox.icon, QMessageBox::Warning);
    QVERIFY(m_dialog->isVisible());

    SeenMessageBox enterBox;
    AnswerNextMessageBox(enterBox);
    QTest::keyClick(m_dialog->m_numberEdit, Qt::Key_Return);
    QVERIFY(enterBox.seen);
    QVERIFY(m_dialog->isVisible());

    // Escape still ends the dialog.
    QTest::keyClick(m_dialog->m_numberEdit, Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
}

void PhoneDlgTest::enterInNumberFieldEndsDialog()
{
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    // Enter on a focused button presses that button, not OK.
    m_dialog->m_keys[0]->setFocus();
    QTest::keyClick(m_dialog->m_keys[0], Qt::Key_Return);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->m_numberEdit->text(), QStringLiteral("1"));

    m_dialog->m_numberEdit->setFocus();
    QTest::keyClicks(m_dialog->m_numberEdit, QStringLiteral("23"));
    QTest::keyClick(m_dialog->m_numberEdit, Qt::Key_Return);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    QCOMPARE(m_dialog->m_strNumber, QStringLiteral("123"));
}

void PhoneDlgTest::peerHangUpIsLoggedInOrder()
{
    MakeDialog();
    EstablishCall();
    const int before = Messages().size();
    m_peer->SendIax(kHangup);
    QVERIFY(QTest::qWaitFor([this] { return !m_dialog->m_pPhone->IsInCall(); }, kMaxWaitMs));
    QCOMPARE(Messages().mid(before),
             (QStringList{QStringLiteral("Call disconnected by peer"),
                          QStringLiteral("Hanging up..."), QStringLiteral("Ready")}));
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    QCOMPARE(Messages().first(), QStringLiteral("Calling..."));
}

void PhoneDlgTest::closingDuringCallHangsUp()
{
    MakeDialog();
    EstablishCall();
    m_peer->ClearPending();
    m_dialog->show();
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY2(m_peer->ExpectIax(kHangup), m_peer->LastError().c_str());
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    // The peer acknowledged it: nothing is left for the exit to wait for.
    QVERIFY(QTest::qWaitFor([] { return IaxClosingSessionCount() == 0; }, kMaxWaitMs));
    m_dialog.reset();
    QVERIFY(m_peer->ExpectSilence(200));
}

// A far end that never acknowledges gets the HANGUP again while the program
// waits, and the program still ends long before the library would give up.
void PhoneDlgTest::closingAwaitsTheAcknowledgementBriefly()
{
    MakeDialog();
    EstablishCall();
    m_peer->SetAutoAck(false);
    m_peer->Drain();
    m_peer->ClearPending();
    QElapsedTimer closing;
    closing.start();
    m_dialog->accept();
    m_dialog.reset();
    QVERIFY2(closing.elapsed() < 10 * kExitHangUpWaitMs,
             qPrintable(QString::number(closing.elapsed())));
    m_peer->Drain();
    int hangUps = 0;
    for (const PeerFrame& frame : m_peer->Pending())
        hangUps += frame.Is(kIax, kHangup) ? 1 : 0;
    QVERIFY2(hangUps >= 2, qPrintable(QString::number(hangUps)));
}

void PhoneDlgTest::showMessagesShowsEveryText()
{
    MakeDialog();
    QAction* show = MenuAction(m_dialog->m_menuBar, QStringLiteral("Show messages"));
    show->trigger();
    QVERIFY(m_dialog->m_messagesDlg->isVisible());
    QVERIFY(Messages().isEmpty());
    m_dialog->m_messagesDlg->close();
    QVERIFY(!m_dialog->m_messagesDlg->isVisible());

    m_dialog->ShowStatus("Calling...");
    m_dialog->ShowStatus("Calling...");
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Calling..."));
    show->trigger();
    QVERIFY(m_dialog->m_messagesDlg->isVisible());
    QCOMPARE(Messages(), (QStringList{QStringLiteral("Calling..."), QStringLiteral("Calling...")}));
    // The window has no owner: it is a window of its own.
    QVERIFY(m_dialog->m_messagesDlg->isWindow());
    QCOMPARE(m_dialog->m_messagesDlg->parentWidget(), nullptr);
}

void PhoneDlgTest::messagesUsableWhileDialogRuns()
{
    MakeDialog();
    // The program runs the main dialog modally; the messages window, which
    // has no owner, must still take clicks meanwhile.
    bool shown = false;
    bool hiddenByClose = false;
    QTimer::singleShot(0, this, [&] {
        m_dialog->OnShowMessages();
        CMessagesDlg* messages = m_dialog->m_messagesDlg.get();
        shown = QTest::qWaitForWindowExposed(messages) && messages->isVisible();
        // A click through the window system, which drops input to windows
        // that a modal dialog blocks.
        auto* close = messages->findChild<QPushButton*>();
        QTest::mouseClick(messages->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          close->mapTo(messages, close->rect().center()));
        hiddenByClose = !messages->isVisible();
        m_dialog->reject();
    });
    m_dialog->exec();
    QVERIFY(shown);
    QVERIFY(hiddenByClose);
}

void PhoneDlgTest::aboutFromHelpMenu()
{
    MakeDialog();
    QString title;
    WhenModal<CAboutDlg>([&title](CAboutDlg* about) {
        title = about->windowTitle();
        about->m_okButton->click();
    });
    MenuAction(m_dialog->m_menuBar, QStringLiteral("&About Velnar..."))->trigger();
    QCOMPARE(title, QStringLiteral("About Velnar"));
}

// The running time shows below the status line, never in it; the
// statistics window sits after Show messages, with no mnemonic to take S.
void PhoneDlgTest::callFiguresInInfoLineAndStatisticsWindow()
{
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QVERIFY(m_dialog->m_infoLine->text().isEmpty());
    EstablishCall();
    QCOMPARE(m_dialog->m_infoLine->text(), QStringLiteral("Call time 0:00"));
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Connected"));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("VOIP"));
    const QRect status(m_dialog->m_status->mapTo(m_dialog.get(), QPoint()),
                       m_dialog->m_status->size());
    const QRect info(m_dialog->m_infoLine->mapTo(m_dialog.get(), QPoint()),
                     m_dialog->m_infoLine->size());
    QVERIFY(info.top() > status.bottom());

    const QList<QAction*> items = MenuAction(m_dialog->m_menuBar, "&Options")->menu()->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[1]->text(), QStringLiteral("Show messages"));
    QCOMPARE(items[2]->text(), QStringLiteral("Call statistics"));
    items[2]->trigger();
    QVERIFY(m_dialog->m_statsDlg->isVisible());
    QCOMPARE(m_dialog->m_statsDlg->m_values[0]->text(), QStringLiteral("0:00"));

    m_peer->SendIax(kHangup);
    QVERIFY(QTest::qWaitFor([this] { return m_dialog->m_status->text() == "Ready"; }, kMaxWaitMs));
    QVERIFY(m_dialog->m_infoLine->text().isEmpty());
    m_dialog->m_statsDlg->Refresh();
    QCOMPARE(m_dialog->m_statsDlg->m_values[0]->text(), QStringLiteral("0:00 (ended)"));
    QCOMPARE(m_dialog->m_statsDlg->m_values[1]->text(), QStringLiteral("none"));
}

void PhoneDlgTest::ChooseProtocol(int version, bool registerForCalls)
{
    WhenModal<CSettingsDlg>([=](CSettingsDlg* settings) {
        settings->m_protocolChoice->m_versionBox->setCurrentIndex(version - 1);
        settings->m_protocolChoice->m_registerCheck->setChecked(registerForCalls);
        settings->m_okButton->click();
    });
    m_dialog->OnSettings();
}

void PhoneDlgTest::CheckRegistrationLinePlace()
{
    const auto place = [this](QWidget* widget) {
        return QRect(widget->mapTo(m_dialog.get(), QPoint()), widget->size());
    };
    QVERIFY(QTest::qWaitFor(
        [&] { return m_dialog->rect().contains(place(m_dialog->m_registrationLine)); }));
    QVERIFY(m_dialog->m_registrationLine->isVisible());
    QVERIFY(place(m_dialog->m_registrationLine).top() > place(m_dialog->m_infoLine).bottom());
    QVERIFY(place(m_dialog->m_infoLine).top() > place(m_dialog->m_status).bottom());
}

void PhoneDlgTest::registrationLineOnlyWhileVersion2IsChosen()
{
    const QByteArray version1File = "bob:pw@" + PeerServer() + "\n1000";
    WriteSettings(version1File);
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    const int version1Height = m_dialog->height();
    m_dialog->RegistrationChanged("Registered");
    QVERIFY(m_dialog->m_registrationLine->isHidden());
    QVERIFY(m_dialog->m_registrationLine->text().isEmpty());

    ChooseProtocol(2, true);
    QVERIFY(ReadSettings().endsWith("\nprotocol=2\nregister=1\ncodecs=ulaw,alaw,gsm\n"));
    CheckRegistrationLinePlace();
    m_dialog->RegistrationChanged("Registration refused");
    QCOMPARE(m_dialog->m_registrationLine->text(), QStringLiteral("Registration refused"));
    // Not a status text, nor a title.
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("VOIP"));
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    QVERIFY(Messages().isEmpty());

    // Back to version 1: the line goes, the window and the file are as they
    // were.
    ChooseProtocol(1, false);
    QVERIFY(m_dialog->m_registrationLine->isHidden());
    QCOMPARE(ReadSettings(), version1File);
    QVERIFY(QTest::qWaitFor([&] { return m_dialog->height() == version1Height; }));
}

void PhoneDlgTest::version2FromTheFileAtStart()
{
    WriteSettings("bob:pw@" + PeerServer() + "\n1000\nprotocol=2\nregister=0\n");
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    CheckRegistrationLinePlace();
    // The engine's state at start, then what it reports.
    QCOMPARE(m_dialog->m_registrationLine->text(), QStringLiteral("Not registered"));
    m_dialog->RegistrationChanged("Registered");
    QCOMPARE(m_dialog->m_registrationLine->text(), QStringLiteral("Registered"));
    // Only the protocol is read at start: the first Call still loads the
    // working copy.
    QVERIFY(m_dialog->m_strServer.isEmpty());
}

// The echo service as registrar rings the phone as soon as it registers.
void PhoneDlgTest::version2CallRingsUnderTheStatusAndCallAnswersIt()
{
    test::EchoPeerProcess echo(false, {"--password=sesame", "--ring-registered=0"});
    QVERIFY(echo.V2Port() != 0);
    WriteSettings("alice:sesame@127.0.0.1:" + QByteArray::number(echo.V2Port()) +
                  "\n1000\nprotocol=2\nregister=1\n");
    MakeDialog();
    m_dialog->show();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return m_dialog->m_infoLine->text() == QStringLiteral("Incoming call from Echo <600>");
        },
        5000));
    QCOMPARE(m_dialog->m_registrationLine->text(), QStringLiteral("Registered"));
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    m_dialog->m_callButton->click();
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Connected"));
    QVERIFY(m_dialog->m_infoLine->text().startsWith(QStringLiteral("Call time ")));
    QVERIFY(QTest::qWaitFor([&] { return echo.Said("answered by alice"); }, 3000));
    m_dialog->m_hangUpButton->click();
    QCOMPARE(m_dialog->m_status->text(), QStringLiteral("Ready"));
    QVERIFY(QTest::qWaitFor([&] { return echo.Said("HANGUP"); }, 3000));
}

QTEST_MAIN(PhoneDlgTest)
#include "phone_dlg_test.moc"
