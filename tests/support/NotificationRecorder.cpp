#include "support/NotificationRecorder.h"

#include <QAtomicInt>
#include <QDBusConnectionInterface>
#include <QTest>

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("tarvendesk-notification-recorder-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

NotificationRecorder::NotificationRecorder(const QStringList& capabilities)
    : m_connectionName(nextConnectionName())
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
    , m_capabilities(capabilities)
{
    m_connection.registerObject(objectPath, this,
        QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals
            | QDBusConnection::ExportScriptableProperties);
    if (auto* bus = m_connection.interface())
        bus->registerService(serviceName, QDBusConnectionInterface::QueueService,
            QDBusConnectionInterface::DontAllowReplacement);
}

NotificationRecorder::~NotificationRecorder()
{
    m_connection.unregisterObject(objectPath);
    if (auto* bus = m_connection.interface())
        bus->unregisterService(serviceName);
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool NotificationRecorder::waitUntilRegistered()
{
    return QTest::qWaitFor(
        [this] {
            auto* bus = m_connection.interface();
            return bus && bus->serviceOwner(serviceName).value() == m_connection.baseService();
        },
        120000);
}

uint NotificationRecorder::Notify(const QString& appName, uint replacesId, const QString& appIcon,
    const QString& summary, const QString& body, const QStringList& actions,
    const QVariantMap& hints, int expireTimeout)
{
    m_notifications.append(
        { appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout });
    emit notified();
    return replacesId != 0 ? replacesId : uint(m_notifications.size());
}
