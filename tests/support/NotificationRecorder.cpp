#include "support/NotificationRecorder.h"

#include <QDBusConnectionInterface>
#include <QTest>

static const QString serviceName = QStringLiteral("org.freedesktop.Notifications");

// A connection of its own, named after the recorder, so that the name goes with it.
NotificationRecorder::NotificationRecorder(const QStringList& serverCapabilities)
    : capabilities(serverCapabilities)
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
          QStringLiteral("notification-recorder-%1").arg(quintptr(this))))
{
    m_connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
        QDBusConnection::ExportScriptableContents);
    if (QDBusConnectionInterface* bus = m_connection.interface())
        bus->registerService(serviceName, QDBusConnectionInterface::QueueService);
}

bool NotificationRecorder::waitUntilRegistered()
{
    QDBusConnectionInterface* bus = m_connection.interface();
    const auto owned
        = [&] { return bus->serviceOwner(serviceName).value() == m_connection.baseService(); };
    return bus && QTest::qWaitFor(owned, 120000);
}
