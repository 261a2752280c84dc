#include "TrayHost.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString connectionName = QStringLiteral("bench-tray-host");

} // namespace

TrayHost::TrayHost(QObject* parent)
    : QObject(parent)
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    m_connection.registerObject(watcherPath, this, QDBusConnection::ExportAllContents);
    m_registered = m_connection.interface()
        && m_connection.interface()->registerService(watcherService).value()
            == QDBusConnectionInterface::ServiceRegistered;
}

TrayHost::~TrayHost()
{
    m_connection.unregisterObject(watcherPath);
    if (m_connection.interface())
        m_connection.interface()->unregisterService(watcherService);
    QDBusConnection::disconnectFromBus(connectionName);
}

void TrayHost::RegisterStatusNotifierItem(const QString& service)
{
    // Qt registers its items by its connection's unique name; others by
    // org.kde.StatusNotifierItem-<pid>-<n>. The bus knows the owner of either.
    qint64 pid = -1;
    if (m_connection.interface()) {
        const QDBusReply<uint> owner = m_connection.interface()->servicePid(service);
        if (owner.isValid())
            pid = owner.value();
    }
    m_items << service;
    emit itemRegistered(service, pid);
}

void TrayHost::RegisterStatusNotifierHost(const QString&)
{
}
