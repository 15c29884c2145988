// What assistive technology gets from the windows, read in-process through
// QAccessible on the offscreen platform: a name for every control, labels
// tied to their fields, descriptions where a name says too little, and the
// status line announcing each new text with the text itself.
#include "engine/iax_phone.h"
#include "mixer/mixer_fader.h"
#include "ui/about_dlg.h"
#include "ui/call_stats_dlg.h"
#include "ui/limited_line_edit.h"
#include "ui/messages_dlg.h"
#include "ui/phone_dlg.h"
#include "ui/settings_dlg.h"
#include "ui/status_line.h"

#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace velnar;

namespace {

QStringList g_statusTexts;  // what the status line announced, in order

// The offscreen platform has no screen reader to switch accessibility on;
// without it the toolkit drops every event before any handler sees it.
void SwitchAccessibilityOn()
{
    if (QPlatformAccessibility* platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(true);
}

void RecordTextUpdates(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::TextUpdated && qobject_cast<StatusLine*>(event->object()))
        g_statusTexts << static_cast<QAccessibleTextUpdateEvent*>(event)->textInserted();
}

QString AccessibleText(QObject* object, QAccessible::Text which)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face ? face->text(which) : QString();
}

// Controls that take the focus or a click, with no accessible name.
QStringList Unnamed(QWidget* window)
{
    QStringList unnamed;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const bool interactive =
            qobject_cast<QAbstractButton*>(widget) || qobject_cast<QAbstractSlider*>(widget) ||
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QListWidget*>(widget);
        // A scroll bar inside a list is part of the list.
        const bool part = qobject_cast<QListWidget*>(widget->parentWidget()) ||
                          (widget->parentWidget() &&
                           qobject_cast<QListWidget*>(widget->parentWidget()->parentWidget()));
        if (interactive && !part && widget->isVisibleTo(window) &&
            AccessibleText(widget, QAccessible::Name).isEmpty())
            unnamed << QString::fromLatin1(widget->metaObject()->className());
    }
    for (QAction* action : window->findChildren<QAction*>())
        if (!action->isSeparator() && action->text().isEmpty())
            unnamed << QStringLiteral("action");
    return unnamed;
}

QLabel* LabelFor(QWidget* window, QWidget* field)
{
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == field)
            return label;
    return nullptr;
}

}  // namespace

class StatusLineAccessibleTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyControlIsNamed();
    void labelsNameTheirFieldsAndKeysAreDescribed();
    void eachStatusTextIsAnnouncedWithItsText();
    void statusLineExposesWholeTextWhenElided();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    std::unique_ptr<CPhoneDlg> m_dialog;
};

void StatusLineAccessibleTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    PhoneDlgOptions options;
    options.localPort = -1;
    m_dialog = std::make_unique<CPhoneDlg>(std::move(options));
    g_statusTexts.clear();
}

void StatusLineAccessibleTest::cleanup()
{
    QAccessible::installUpdateHandler(nullptr);
    m_dialog.reset();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void StatusLineAccessibleTest::everyControlIsNamed()
{
    CSettingsDlg settings(m_dialog.get());
    CMessagesDlg messages;
    CAboutDlg about(m_dialog.get());
    CCallStatsDlg stats([] { return CallFigures(); });
    QWidget* windows[] = {m_dialog.get(), &settings, &messages, &about, &stats};
    for (QWidget* window : windows)
        QVERIFY2(Unnamed(window).isEmpty(),
                 qPrintable(window->windowTitle() + ": " + Unnamed(window).join(", ")));
    QCOMPARE(AccessibleText(m_dialog->m_numberEdit, QAccessible::Name), "Phone number");
    QCOMPARE(AccessibleText(settings.m_serverEdit, QAccessible::Name), "Server address");
}

void StatusLineAccessibleTest::labelsNameTheirFieldsAndKeysAreDescribed()
{
    QLabel* numberLabel = LabelFor(m_dialog.get(), m_dialog->m_numberEdit);
    QVERIFY(numberLabel);
    QCOMPARE(numberLabel->text(), "Phone number");
    QCOMPARE(LabelFor(m_dialog.get(), m_dialog->m_inputFader)->text(), "Input volume");
    QCOMPARE(AccessibleText(m_dialog->m_inputFader, QAccessible::Description), "Microphone volume");
    QCOMPARE(AccessibleText(m_dialog->m_outputFader, QAccessible::Description), "Speaker volume");
    QCOMPARE(AccessibleText(m_dialog->m_keys[4], QAccessible::Name), "5");
    QCOMPARE(AccessibleText(m_dialog->m_keys[4], QAccessible::Description), "digit 5");
    CSettingsDlg settings(m_dialog.get());
    QCOMPARE(LabelFor(&settings, settings.m_passwordEdit)->text(), "Password");
    QCOMPARE(LabelFor(&settings, settings.m_userEdit)->text(), "User name");
}

// Several texts set in one go are each heard, not only the last.
void StatusLineAccessibleTest::eachStatusTextIsAnnouncedWithItsText()
{
    QAccessible::installUpdateHandler(RecordTextUpdates);
    SwitchAccessibilityOn();
    QVERIFY(QAccessible::isActive());
    const QStringList texts = {"Calling...", "Cannot connect- bad server name? ", "Hanging up...",
                               "Ready"};
    for (const QString& text : texts)
        m_dialog->ShowStatus(text.toStdString());
    QCOMPARE(g_statusTexts, texts);
}

void StatusLineAccessibleTest::statusLineExposesWholeTextWhenElided()
{
    const QString text = QStringLiteral(
        "Incoming call ignored, there's already a call waiting for answer... please accept or "
        "reject first");
    m_dialog->ShowStatus(text.toStdString());
    QVERIFY(m_dialog->m_status->ShownText() != text);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(m_dialog->m_status);
    QVERIFY(face && face->textInterface());
    QCOMPARE(face->role(), QAccessible::StatusBar);
    QVERIFY(face->state().readOnly);
    QCOMPARE(face->textInterface()->text(0, face->textInterface()->characterCount()), text);
    QCOMPARE(face->text(QAccessible::Name), text);
}

QTEST_MAIN(StatusLineAccessibleTest)
#include "status_line_accessible_test.moc"
