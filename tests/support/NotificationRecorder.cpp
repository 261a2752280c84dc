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

NotificationRecorder::NotificationRecorder(const QStringList& capabilities, QObject* parent)
    : QObject(parent)
    , m_connectionName(nextConnectionName())
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
    , m_capabilities(capabilities)
{
    m_connection.registerObject(objectPath, this,
        QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals);
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

bool NotificationRecorder::isRegistered() const
{
    auto* bus = m_connection.interface();
    return bus && bus->serviceOwner(serviceName).value() == m_connection.baseService();
}

bool NotificationRecorder::waitUntilRegistered(int timeoutMs)
{
    return QTest::qWaitFor([this] { return isRegistered(); }, timeoutMs);
}

void NotificationRecorder::clear()
{
    m_notifications.clear();
    m_closedIds.clear();
    m_capabilityQueries = 0;
}

QStringList NotificationRecorder::GetCapabilities()
{
    ++m_capabilityQueries;
    return m_capabilities;
}

QString NotificationRecorder::GetServerInformation(
    QString& vendor, QString& version, QString& specVersion)
{
    vendor = QStringLiteral("tarvenDESK tests");
    version = QStringLiteral("1.0");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("NotificationRecorder");
}

uint NotificationRecorder::Notify(const QString& appName, uint replacesId, const QString& appIcon,
    const QString& summary, const QString& body, const QStringList& actions,
    const QVariantMap& hints, int expireTimeout)
{
    const uint id = replacesId != 0 ? replacesId : ++m_lastId;
    m_notifications.append(
        { id, appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout });
    emit notified(id);
    return id;
}

void NotificationRecorder::CloseNotification(uint id)
{
    m_closedIds.append(id);
    // Reason 3: closed by a call to CloseNotification.
    emit NotificationClosed(id, 3);
}
