// Incoming-call notifications on a private session bus of the test's own,
// with a stand-in notification service registered on it (the user's own
// session bus and desktop are never touched), and a scripted peer calling
// the main dialog over 127.0.0.1.
#include "ui/desktop_notifier.h"
#include "engine/iax_phone.h"
#include "iax/iax.h"
#include "platform/doubles/fake_wave_device.h"
#include "tests/support/iax_test_peer.h"
#include "ui/limited_line_edit.h"
#include "ui/phone_dlg.h"
#include "ui/status_line.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <memory>

using namespace velnar;
using namespace iaxpeer;

namespace {

constexpr int kMaxWaitMs = 5000;

uint16_t LibraryPort()
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(IaxSocketHandle(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

}  // namespace

// Records what a notification service would show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries;
    QStringList bodies;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        summaries << summary;
        bodies << body;
        return uint(summaries.size());
    }
};

class DesktopNotifierTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void withoutServiceNothingIsSent();
    void incomingCallNamesTheCaller();

private:
    void RegisterService();
    void CallIn(const std::string& newText);

    QProcess m_bus;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    std::unique_ptr<IaxTestPeer> m_peer;
    std::unique_ptr<CPhoneDlg> m_dialog;
    FakeNotifications m_service;
};

void DesktopNotifierTest::initTestCase()
{
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted())
        QSKIP("dbus-daemon is not installed");
    QVERIFY(m_bus.waitForReadyRead(kMaxWaitMs));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void DesktopNotifierTest::cleanupTestCase()
{
    m_bus.terminate();
    m_bus.waitForFinished();
}

void DesktopNotifierTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_peer = std::make_unique<IaxTestPeer>();
    QVERIFY(m_peer->Ok());
    m_peer->SetAutoAck(true);
    PhoneDlgOptions options;
    options.devices.waveIn = std::make_unique<FakeWaveIn>();
    options.devices.waveOut = std::make_unique<FakeWaveOut>();
    options.localPort = -1;
    m_dialog = std::make_unique<CPhoneDlg>(std::move(options));
}

void DesktopNotifierTest::cleanup()
{
    m_dialog.reset();
    m_peer.reset();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void DesktopNotifierTest::RegisterService()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_service,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QString::fromLatin1(DesktopNotifier::kService)));
}

// The window reads its socket from its first call on: one call out and
// ended by the peer, then the peer calls in.
void DesktopNotifierTest::CallIn(const std::string& newText)
{
    QFile settings(QStringLiteral("VOIP.set"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(":@127.0.0.1:" + QByteArray::number(m_peer->Port()) + "\n1000");
    settings.close();
    m_dialog->m_numberEdit->setText(QStringLiteral("100"));
    m_dialog->OnCall();
    QVERIFY2(m_peer->ExpectIax(kNew), m_peer->LastError().c_str());
    m_peer->SendIax(kHangup);
    QVERIFY(QTest::qWaitFor([this] { return m_dialog->m_status->text() == "Ready"; }, kMaxWaitMs));
    m_peer->SetTarget(LibraryPort());
    m_peer->StartCall();
    m_peer->SendIax(kNew, newText);
    QVERIFY(QTest::qWaitFor([this] { return m_dialog->m_pPhone->CurrentCall() != nullptr; },
                            kMaxWaitMs));
}

void DesktopNotifierTest::withoutServiceNothingIsSent()
{
    QVERIFY(!DesktopNotifier().Notify(QStringLiteral("Incoming call"), QString()));
    CallIn("exten=100;formats=2;version=1;");
    QTest::qWait(100);  // a notification would need the loop to arrive
    QVERIFY(m_service.summaries.isEmpty());
}

void DesktopNotifierTest::incomingCallNamesTheCaller()
{
    RegisterService();
    QVERIFY(!m_dialog->isActiveWindow());
    CallIn("callerid=555-0123;exten=100;formats=2;version=1;");
    QVERIFY(QTest::qWaitFor([this] { return !m_service.summaries.isEmpty(); }, kMaxWaitMs));
    QCOMPARE(m_service.summaries, QStringList{QStringLiteral("Incoming call")});
    QCOMPARE(m_service.bodies, QStringList{QStringLiteral("From 555-0123")});
    QCOMPARE(IncomingCallBody(QString()), QString());
}

QTEST_MAIN(DesktopNotifierTest)
#include "desktop_notifier_test.moc"
