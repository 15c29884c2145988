// The Settings dialog's microphone and speaker choice, listed from a catalog
// the test hands in, as the program's start-up hands in the backend's; and
// its protocol choice, stored as key lines of the settings file.
#include "ui/settings_dlg.h"

#include "settings/settings_file.h"
#include "ui/protocol_choice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace velnar;

namespace {

class ListedDevices : public DeviceCatalog {
public:
    std::vector<SoundDevice> Microphones() override
    {
        return {{"alsa_input.usb", "USB Headset Mono"}, {"alsa_input.pci", "Built-in Audio"}};
    }
    std::vector<SoundDevice> Speakers() override { return {{"alsa_output.pci", "Speakers"}}; }
};

QStringList Items(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QWidget* NextTabStop(QWidget* widget)
{
    do
        widget = widget->nextInFocusChain();
    while (!(widget->focusPolicy() & Qt::TabFocus));
    return widget;
}

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int row = 0; row < list->count(); ++row)
        items << list->item(row)->text();
    return items;
}

void WriteFile(const QByteArray& content)
{
    QFile file(QStringLiteral("VOIP.set"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Runs the dialog's OK as a user would, with Enter.
void PressOk(CSettingsDlg& dialog)
{
    dialog.show();
    QTest::keyClick(dialog.m_okButton, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

}  // namespace

class SettingsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void devicesListedDefaultFirstAndAfterTheDesignedControls();
    void okKeepsTheFileKeysAndStoresTheChoice();
    void protocolChoiceIsStoredAndReadBack();
    void protocolControlsFollowTheDesignedOnesInTabOrder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
};

void SettingsDlgTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void SettingsDlgTest::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void SettingsDlgTest::devicesListedDefaultFirstAndAfterTheDesignedControls()
{
    QFile file(QStringLiteral("VOIP.set"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a:b@host\n700\nmicrophone=alsa_input.pci\nspeaker=unplugged.usb\n");
    file.close();
    CSettingsDlg dialog(nullptr, std::make_shared<ListedDevices>());
    QCOMPARE(Items(dialog.m_microphoneBox),
             (QStringList{"Default", "USB Headset Mono", "Built-in Audio"}));
    QCOMPARE(dialog.m_microphoneBox->currentText(), QStringLiteral("Built-in Audio"));
    QCOMPARE(dialog.m_speakerBox->currentText(), QStringLiteral("unplugged.usb (not connected)"));
    QCOMPARE(NextTabStop(dialog.m_detectButton), dialog.m_microphoneBox);
    QCOMPARE(NextTabStop(dialog.m_microphoneBox), dialog.m_speakerBox);
    QCOMPARE(NextTabStop(dialog.m_speakerBox), dialog.m_protocolChoice->m_versionBox);

    CSettingsDlg without;  // no catalog: the default, and the file's choice kept
    QCOMPARE(Items(without.m_microphoneBox),
             (QStringList{"Default", "alsa_input.pci (not connected)"}));
}

void SettingsDlgTest::okKeepsTheFileKeysAndStoresTheChoice()
{
    QFile file(QStringLiteral("VOIP.set"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a:b@host\n700\nregister=yes\nspeaker=alsa_output.pci\n");
    file.close();
    CSettingsDlg dialog(nullptr, std::make_shared<ListedDevices>());
    dialog.m_microphoneBox->setCurrentIndex(1);
    dialog.m_speakerBox->setCurrentIndex(0);
    dialog.show();
    QTest::keyClick(dialog.m_speakerBox, Qt::Key_Return);  // Enter is still OK
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(dialog.m_keys.Lines()),
             QStringLiteral("register=yes\nmicrophone=alsa_input.usb\n"));
}

void SettingsDlgTest::protocolChoiceIsStoredAndReadBack()
{
    WriteFile("a:b@host\n700\nspeaker=alsa_output.pci\n");
    CSettingsDlg dialog;
    ProtocolChoice& choice = *dialog.m_protocolChoice;
    QCOMPARE(choice.m_versionBox->currentText(), QStringLiteral("IAX version 1"));
    QVERIFY(!choice.m_registerCheck->isEnabled() && !choice.m_codecList->isEnabled());
    choice.m_versionBox->setCurrentIndex(1);
    QVERIFY(choice.m_registerCheck->isEnabled() && choice.m_codecList->isEnabled());
    choice.m_registerCheck->click();
    choice.m_codecList->setCurrentRow(2);
    QVERIFY(!choice.m_downButton->isEnabled());  // the last cannot go lower
    choice.m_upButton->click();
    choice.m_upButton->click();
    QCOMPARE(Items(choice.m_codecList), (QStringList{"GSM", u"µ-law"_qs, "A-law"}));
    PressOk(dialog);
    QCOMPARE(
        dialog.m_keys.Lines(),
        std::string("speaker=alsa_output.pci\nprotocol=2\nregister=1\ncodecs=gsm,ulaw,alaw\n"));

    QVERIFY(SaveSettingsFile("VOIP.set", {"a", "b", "host", 700, dialog.m_keys}));
    CSettingsDlg reread;
    QCOMPARE(reread.m_protocolChoice->Chosen().codecs, dialog.m_protocolChoice->Chosen().codecs);
    QVERIFY(reread.m_protocolChoice->m_registerCheck->isChecked());
    // Back to version 1 with the defaults: a version-1 file again, no line.
    reread.m_protocolChoice->Show(ProtocolSettings());
    PressOk(reread);
    QCOMPARE(reread.m_keys.Lines(), std::string("speaker=alsa_output.pci\n"));
}

void SettingsDlgTest::protocolControlsFollowTheDesignedOnesInTabOrder()
{
    CSettingsDlg dialog;
    const ProtocolChoice& choice = *dialog.m_protocolChoice;
    const QList<QWidget*> order = {dialog.m_speakerBox, choice.m_versionBox, choice.m_registerCheck,
                                   choice.m_codecList,  choice.m_upButton,   choice.m_downButton,
                                   dialog.m_okButton};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QCOMPARE(NextTabStop(order[i]), order[i + 1]);
        // Below the designed controls, above OK and Cancel.
        QVERIFY(order[i]->geometry().top() > dialog.m_detectButton->geometry().bottom());
        QVERIFY(order[i]->geometry().bottom() < dialog.m_okButton->geometry().top());
    }
}

QTEST_MAIN(SettingsDlgTest)
#include "settings_dlg_test.moc"
