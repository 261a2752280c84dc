#include "common/NotifierBus.h"

#include "common/ProcessHelpers.h"
#include "platform/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

void NotifierBus::checkNow()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage call = QDBusMessage::createMethodCall(StatusBarBundleIdentifier,
        NotifierObjectPath, NotifierInterfaceName, QStringLiteral("CheckNow"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher* done) {
            const QDBusPendingReply<> reply = *done;
            if (reply.isError())
                qCWarning(lcActivation)
                    << "The notifier could not be asked for a check:" << reply.error().message();
            done->deleteLater();
        });
}
