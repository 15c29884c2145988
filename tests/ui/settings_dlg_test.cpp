// The Settings dialog's microphone and speaker choice, listed from a catalog
// the test hands in, as the program's start-up hands in the backend's.
#include "ui/settings_dlg.h"

#include "settings/settings_file.h"

#include <QComboBox>
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

}  // namespace

class SettingsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void devicesListedDefaultFirstAndAfterTheDesignedControls();
    void okKeepsTheFileKeysAndStoresTheChoice();

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
    QCOMPARE(NextTabStop(dialog.m_speakerBox), dialog.m_okButton);

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

QTEST_MAIN(SettingsDlgTest)
#include "settings_dlg_test.moc"
