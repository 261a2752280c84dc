#include "support/BusPrograms.h"

#include "programs/ProbeProcess.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QTest>
#include <signal.h>

namespace BusPrograms {

bool useOffscreenDisplay()
{
    QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("UpdateActivationEnvironment"));
    qDBusRegisterMetaType<QMap<QString, QString>>();
    update << QVariant::fromValue(QMap<QString, QString> { { "QT_QPA_PLATFORM", "offscreen" } });
    return QDBusConnection::sessionBus().call(update).type() == QDBusMessage::ReplyMessage;
}

bool isNameOwned(const QString& name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

bool endProgramHolding(const QString& name, int signalNumber)
{
    if (const pid_t pid = ownerPid(name); pid > 0)
        ::kill(pid, signalNumber);
    return QTest::qWaitFor([&] { return !isNameOwned(name); }, 20000);
}

} // namespace BusPrograms
