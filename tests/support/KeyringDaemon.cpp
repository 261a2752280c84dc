#include "support/KeyringDaemon.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <signal.h>

namespace {

const QString secretsName = QStringLiteral("org.freedesktop.secrets");

bool fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

bool waitUntilRunning(bool running)
{
    const QDeadlineTimer deadline(60000);
    while (KeyringDaemon::isRunning() != running) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

} // namespace

namespace KeyringDaemon {

bool isRunning()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(secretsName).value();
}

bool stop(QString* why)
{
    const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(secretsName);
    if (!pid.isValid() || pid.value() == 0)
        return fail(why, QStringLiteral("no daemon owns the Secret Service name"));
    if (::kill(pid_t(pid.value()), SIGTERM) != 0)
        return fail(why, QStringLiteral("the keyring daemon could not be signalled"));
    return waitUntilRunning(false) || fail(why, QStringLiteral("the keyring daemon kept its name"));
}

bool start(QString* why)
{
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("gnome-keyring-daemon"),
        { QStringLiteral("--unlock"), QStringLiteral("--components=secrets"),
            QStringLiteral("--daemonize") });
    if (!daemon.waitForStarted(30000))
        return fail(why, QStringLiteral("gnome-keyring-daemon did not start"));
    daemon.write(TARVENDESK_TEST_KEYRING_PASSWORD);
    daemon.closeWriteChannel();
    // The process started hands over to the daemon it forks, and ends.
    if (!daemon.waitForFinished(30000) || daemon.exitCode() != 0)
        return fail(why, QStringLiteral("gnome-keyring-daemon did not daemonize"));
    return waitUntilRunning(true)
        || fail(why, QStringLiteral("the new keyring daemon did not take its name"));
}

int itemCount(const QString& account, const QString& service)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage search = QDBusMessage::createMethodCall(secretsName,
        QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("SearchItems"));
    search << QVariant::fromValue(QMap<QString, QString> {
        { QStringLiteral("account"), account }, { QStringLiteral("service"), service } });
    const QDBusMessage found = QDBusConnection::sessionBus().call(search);
    if (found.type() != QDBusMessage::ReplyMessage)
        return -1;
    qsizetype count = 0;
    for (const QVariant& paths : found.arguments()) // the unlocked items, then the locked ones
        count += qdbus_cast<QList<QDBusObjectPath>>(paths).size();
    return int(count);
}

} // namespace KeyringDaemon
