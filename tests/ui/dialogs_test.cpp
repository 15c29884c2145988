// The Settings dialog, the messages window, the About box and the limited
// line edit they share with the main dialog.
#include "modal_driver.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/protocol_choice.h"
#include "ui/settings_dlg.h"

#include <QComboBox>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace velnar;
using velnar::testing::AnswerNextMessageBox;
using velnar::testing::SeenMessageBox;

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void limitedEditRefusesTypingPastLimit();
    void limitedEditTakesLongerTextFromProgram();
    void messagesKeepsEveryTextInOrder();
    void messagesKeepTheNewestTextsOnly();
    void messagesClosingOnlyHides();
    void messagesDoNotScroll();
    void messagesRowsFitTheirText();
    void settingsShowsFileContent();
    void settingsWithoutFileShowsDefaults();
    void settingsDetectSetsPosition();
    void settingsRefusesOverlongField();
    void settingsRefusesWhatTheFileCannotKeep();
    void settingsTabOrderStartsOnOk();

private:
    void WriteSettings(const QByteArray& content);
    QStringList Entries(const CMessagesDlg& dialog) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
};

void DialogsTest::init()
{
    // VOIP.set lives in the current directory: each test gets its own.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void DialogsTest::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void DialogsTest::WriteSettings(const QByteArray& content)
{
    QFile file(QStringLiteral("VOIP.set"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList DialogsTest::Entries(const CMessagesDlg& dialog) const
{
    QStringList entries;
    for (int row = 0; row < dialog.m_list->count(); ++row)
        entries << dialog.m_list->item(row)->text();
    return entries;
}

void DialogsTest::limitedEditRefusesTypingPastLimit()
{
    LimitedLineEdit edit(5);
    edit.show();
    QTest::keyClicks(&edit, QStringLiteral("1234567"));
    QCOMPARE(edit.text(), QStringLiteral("12345"));

    // Pasting is typing too.
    edit.clear();
    QTest::keyClicks(&edit, QStringLiteral("12"));
    edit.insert(QStringLiteral("abcdef"));
    QCOMPARE(edit.text(), QStringLiteral("12"));
}

void DialogsTest::limitedEditTakesLongerTextFromProgram()
{
    LimitedLineEdit edit(5);
    edit.show();
    edit.SetTextUnchecked(QStringLiteral("12345678"));
    QCOMPARE(edit.text(), QStringLiteral("12345678"));

    edit.setFocus();
    edit.end(false);
    QTest::keyClicks(&edit, QStringLiteral("9"));
    QCOMPARE(edit.text(), QStringLiteral("12345678"));

    // Deleting from an over-long text is allowed, then typing up to the limit.
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("1234567"));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, QStringLiteral("xy"));
    QCOMPARE(edit.text(), QStringLiteral("1234x"));

    SeenMessageBox seen;
    AnswerNextMessageBox(seen);
    edit.SetTextUnchecked(QStringLiteral("123456"));
    QVERIFY(!edit.CheckLength(nullptr));
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("Please enter no more than 5 characters."));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    edit.SetTextUnchecked(QStringLiteral("12345"));
    QVERIFY(edit.CheckLength(nullptr));
}

void DialogsTest::messagesKeepsEveryTextInOrder()
{
    CMessagesDlg dialog;
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.m_list->count(), 0);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));

    const QStringList texts = {
        QStringLiteral("Calling..."),    QStringLiteral("Connected"),
        QStringLiteral("Hanging up..."), QStringLiteral("Ready"),
        QStringLiteral("Ready"),         QStringLiteral("Cannot connect- bad server name? ")};
    for (const QString& text : texts)
        dialog.AddString(text);
    // Hidden all along; duplicates are separate entries and nothing is sorted
    // or trimmed.
    QVERIFY(!dialog.isVisible());
    QCOMPARE(Entries(dialog), texts);
}

void DialogsTest::messagesKeepTheNewestTextsOnly()
{
    CMessagesDlg dialog;
    const int total = CMessagesDlg::kMaxEntries + 3;
    for (int i = 0; i < total; ++i)
        dialog.AddString(QString::number(i));
    QCOMPARE(dialog.m_list->count(), CMessagesDlg::kMaxEntries);
    QCOMPARE(dialog.m_list->item(0)->text(), QStringLiteral("3"));
    QCOMPARE(dialog.m_list->item(dialog.m_list->count() - 1)->text(), QString::number(total - 1));
}

void DialogsTest::messagesClosingOnlyHides()
{
    CMessagesDlg dialog;
    dialog.AddString(QStringLiteral("Calling..."));

    auto* close = dialog.findChild<QPushButton*>();
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("Close"));

    dialog.ShowAndActivate();
    QVERIFY(dialog.isVisible());
    close->click();
    QVERIFY(!dialog.isVisible());

    dialog.ShowAndActivate();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());

    dialog.ShowAndActivate();
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());

    dialog.AddString(QStringLiteral("Ready"));
    dialog.ShowAndActivate();
    QCOMPARE(Entries(dialog), (QStringList{QStringLiteral("Calling..."), QStringLiteral("Ready")}));
}

void DialogsTest::messagesDoNotScroll()
{
    CMessagesDlg dialog;
    dialog.ShowAndActivate();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int i = 0; i < 200; ++i)
        dialog.AddString(QStringLiteral("Ready"));
    QCoreApplication::processEvents();
    QScrollBar* bar = dialog.m_list->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);  // the list does overflow
    QCOMPARE(bar->value(), 0);
}

void DialogsTest::messagesRowsFitTheirText()
{
    CMessagesDlg dialog;
    // A short text first: every later row must still get its own width.
    const QStringList texts = {
        QStringLiteral("Ready"),
        QStringLiteral("Incoming call ignored, there's already a call waiting for answer... "
                       "please accept or reject first"),
        QStringLiteral("Calling..."),
    };
    for (const QString& text : texts)
        dialog.AddString(text);
    dialog.ShowAndActivate();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCoreApplication::processEvents();

    QListWidget* list = dialog.m_list;
    const QFontMetrics metrics(list->font());
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        QVERIFY2(list->visualItemRect(item).width() >= metrics.horizontalAdvance(item->text()),
                 qPrintable(item->text()));
    }
    // The long row is wider than the list; scrolled to the end, its end is
    // in view.
    QScrollBar* bar = list->horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    const QRect longRow = list->visualItemRect(list->item(1));
    QVERIFY(longRow.right() <= list->viewport()->rect().right());
    QVERIFY(longRow.left() < 0);
}

void DialogsTest::settingsShowsFileContent()
{
    WriteSettings("alice:secret@pbx.example.net\r\n300");
    CSettingsDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dialog.m_serverEdit->text(), QStringLiteral("pbx.example.net"));
    QCOMPARE(dialog.m_userEdit->text(), QStringLiteral("alice"));
    QCOMPARE(dialog.m_passwordEdit->text(), QStringLiteral("secret"));
    QCOMPARE(dialog.m_passwordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.m_noiseSlider->value(), 300);
    QCOMPARE(dialog.m_nNoise, 300);

    // A position outside the track bar's range is shown clamped and taken
    // clamped on OK.
    WriteSettings("pbx\n1500");
    CSettingsDlg clamped;
    QCOMPARE(clamped.m_noiseSlider->value(), 1000);
    clamped.accept();
    QCOMPARE(clamped.result(), int(QDialog::Accepted));
    QCOMPARE(clamped.m_nNoise, 1000);
}

void DialogsTest::settingsWithoutFileShowsDefaults()
{
    CSettingsDlg dialog;
    QVERIFY(dialog.m_serverEdit->text().isEmpty());
    QVERIFY(dialog.m_userEdit->text().isEmpty());
    QVERIFY(dialog.m_passwordEdit->text().isEmpty());
    QCOMPARE(dialog.m_noiseSlider->minimum(), 0);
    QCOMPARE(dialog.m_noiseSlider->maximum(), 1000);
    QCOMPARE(dialog.m_noiseSlider->value(), 1000);
    // The dialog itself never writes the file.
    dialog.accept();
    QVERIFY(!QFile::exists(QStringLiteral("VOIP.set")));
}

void DialogsTest::settingsDetectSetsPosition()
{
    CSettingsDlg dialog;
    dialog.show();
    dialog.m_detectButton->click();
    QCOMPARE(dialog.m_nNoise, 700);
    QCOMPARE(dialog.m_noiseSlider->value(), 700);

    dialog.m_serverEdit->setFocus();
    QTest::keyClicks(dialog.m_serverEdit, QStringLiteral("pbx"));
    QTest::keyClicks(dialog.m_userEdit, QStringLiteral("bob"));
    QTest::keyClicks(dialog.m_passwordEdit, QStringLiteral("pw"));
    dialog.m_okButton->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strServer, QStringLiteral("pbx"));
    QCOMPARE(dialog.m_strUser, QStringLiteral("bob"));
    QCOMPARE(dialog.m_strPassword, QStringLiteral("pw"));
    QCOMPARE(dialog.m_nNoise, 700);
}

void DialogsTest::settingsRefusesOverlongField()
{
    // A file can hold longer words than the fields let anyone type.
    const QByteArray longPassword(31, 'p');
    WriteSettings("bob:" + longPassword + "@pbx\n500");
    CSettingsDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.m_passwordEdit->text().size(), 31);

    // Typing into the full field adds nothing.
    dialog.m_serverEdit->SetTextUnchecked(QString(30, QLatin1Char('s')));
    QTest::keyClicks(dialog.m_serverEdit, QStringLiteral("x"));
    QCOMPARE(dialog.m_serverEdit->text(), QString(30, QLatin1Char('s')));

    SeenMessageBox seen;
    AnswerNextMessageBox(seen);
    dialog.m_okButton->click();
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("Please enter no more than 30 characters."));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.focusWidget(), dialog.m_passwordEdit);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));

    dialog.m_passwordEdit->SetTextUnchecked(QStringLiteral("short"));
    dialog.m_okButton->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strPassword, QStringLiteral("short"));
}

void DialogsTest::settingsRefusesWhatTheFileCannotKeep()
{
    const QString spaces = QStringLiteral("Spaces cannot be stored in VOIP.set.");
    const QString userChars = QStringLiteral("The user name cannot contain ';' or '='.");
    struct Case {
        const char* server;
        const char* user;
        const char* password;
        QString message;  // empty: accepted
    } cases[] = {
        {"my pbx", "bob", "pw", spaces},
        {"pbx", "bob smith", "pw", spaces},
        {"pbx", "bob", "pass word", spaces},
        {"pbx", "bob", "tab\there", spaces},
        {"pbx", "bob;x", "pw", userChars},
        {"pbx", "a=b", "pw", userChars},
        {"pbx:4569", "bob", "p@ss:/%;=", QString()},
    };
    for (const Case& c : cases) {
        CSettingsDlg dialog;
        dialog.show();
        dialog.m_serverEdit->setText(QString::fromLatin1(c.server));
        dialog.m_userEdit->setText(QString::fromLatin1(c.user));
        dialog.m_passwordEdit->setText(QString::fromLatin1(c.password));
        SeenMessageBox seen;
        if (!c.message.isEmpty())
            AnswerNextMessageBox(seen);
        dialog.m_okButton->click();
        QCOMPARE(seen.text, c.message);
        QCOMPARE(dialog.isVisible(), !c.message.isEmpty());
        if (c.message.isEmpty())
            QCOMPARE(dialog.m_strPassword, QString::fromLatin1(c.password));
    }
}

void DialogsTest::settingsTabOrderStartsOnOk()
{
    CSettingsDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.m_okButton);
    // The device and protocol choices came later: they follow the designed
    // controls (with version 1, only the version itself takes the focus).
    const QList<QWidget*> expected = {
        dialog.m_cancelButton,  dialog.m_serverEdit,  dialog.m_userEdit,
        dialog.m_passwordEdit,  dialog.m_noiseSlider, dialog.m_detectButton,
        dialog.m_microphoneBox, dialog.m_speakerBox,  dialog.m_protocolChoice->m_versionBox,
        dialog.m_okButton};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }

    // Enter on OK takes the values; Escape cancels without taking them.
    QTest::keyClick(dialog.m_okButton, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
