#include "ui/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace velnar {

namespace {

constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kServerDecidesTimeout = -1;

}  // namespace

bool DesktopNotifier::Notify(const QString& summary, const QString& body) const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kService)))
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("velnar"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2));
    call << QStringLiteral("Velnar") << uint(0) << QStringLiteral("velnar") << summary << body
         << QStringList() << hints << kServerDecidesTimeout;
    return bus.send(call);
}

QString IncomingCallBody(const QString& caller)
{
    return caller.isEmpty() ? QString() : QStringLiteral("From %1").arg(caller);
}

}  // namespace velnar
