#include "support/SecretServiceControl.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <signal.h>

namespace {

const QString secretsName = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");

struct Secret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Secret& secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Secret& secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

// Plain method calls: an interface object would introspect the daemon and
// keep a meta-object for it that Qt never frees.
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage call(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(secretsName, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message);
}

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

const QString guiltRiddenInterface = QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface");

// The bytes as a secret of a plain-text session opened for them; a null
// session path when none could be opened.
Secret secretOf(const QByteArray& value, QString* why)
{
    qDBusRegisterMetaType<Secret>();
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QDBusMessage opened = call(servicePath, serviceInterface, QStringLiteral("OpenSession"),
        { QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString())) });
    if (opened.type() == QDBusMessage::ErrorMessage || opened.arguments().size() < 2)
        fail(why, opened.errorMessage());
    return { opened.arguments().value(1).value<QDBusObjectPath>(), {}, value, QStringLiteral("text/plain") };
}

} // namespace

Q_DECLARE_METATYPE(Secret)

namespace SecretServiceControl {

QString defaultCollectionPath(QString* why)
{
    QDBusReply<QDBusObjectPath> alias = call(servicePath, serviceInterface, QStringLiteral("ReadAlias"), { QStringLiteral("default") });
    if (!alias.isValid()) {
        fail(why, alias.error().message());
        return {};
    }
    return alias.value().path();
}

bool lockCollection(const QString& path, QString* why)
{
    const QDBusMessage reply = call(servicePath, serviceInterface, QStringLiteral("Lock"),
        { QVariant::fromValue(QList<QDBusObjectPath> { QDBusObjectPath(path) }) });
    return reply.type() != QDBusMessage::ErrorMessage || fail(why, reply.errorMessage());
}

bool lockDefaultCollection(QString* why)
{
    const QString collection = defaultCollectionPath(why);
    if (collection.isEmpty() || collection == u"/")
        return fail(why, QStringLiteral("no default collection"));
    if (!lockCollection(collection, why))
        return false;
    return isDefaultCollectionLocked() || fail(why, QStringLiteral("the collection is still unlocked"));
}

bool unlockDefaultCollection(QString* why)
{
    const QString collection = defaultCollectionPath(why);
    if (collection.isEmpty() || collection == u"/")
        return fail(why, QStringLiteral("no default collection"));
    // gnome-keyring's own interface for unlocking with a password in hand.
    const Secret master = secretOf(TARVENDESK_TEST_KEYRING_PASSWORD, why);
    const QDBusMessage reply = call(servicePath, guiltRiddenInterface, QStringLiteral("UnlockWithMasterPassword"),
        { QVariant::fromValue(QDBusObjectPath(collection)), QVariant::fromValue(master) });
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(why, reply.errorMessage());
    return !isDefaultCollectionLocked() || fail(why, QStringLiteral("the collection is still locked"));
}

bool isDefaultCollectionLocked()
{
    const QString collection = defaultCollectionPath();
    QDBusReply<QDBusVariant> locked = call(collection, propertiesInterface, QStringLiteral("Get"),
        { QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked") });
    return locked.isValid() && locked.value().variant().toBool();
}

QString createCollection(const QString& label)
{
    const QVariantMap properties { { QStringLiteral("org.freedesktop.Secret.Collection.Label"), label } };
    QDBusReply<QDBusObjectPath> created = call(servicePath, guiltRiddenInterface,
        QStringLiteral("CreateWithMasterPassword"),
        { properties, QVariant::fromValue(secretOf(TARVENDESK_TEST_KEYRING_PASSWORD, nullptr)) });
    return created.isValid() ? created.value().path() : QString();
}

bool deleteCollection(const QString& path)
{
    return call(path, QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Delete"), {}).type()
        != QDBusMessage::ErrorMessage;
}

bool plantItem(QMap<QString, QString> attributes, const QByteArray& value, const QString& collection)
{
    attributes.insert(QStringLiteral("xdg:schema"), QStringLiteral("org.tarvendesk.GenericPassword"));
    const QVariantMap properties {
        { QStringLiteral("org.freedesktop.Secret.Item.Label"), QStringLiteral("planted") },
        { QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(attributes) },
    };
    return call(collection.isEmpty() ? QStringLiteral("/org/freedesktop/secrets/aliases/default") : collection,
               QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("CreateItem"),
               { properties, QVariant::fromValue(secretOf(value, nullptr)), false })
               .type()
        != QDBusMessage::ErrorMessage;
}

QList<QMap<QString, QString>> itemAttributes(const QString& account, const QString& service)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QMap<QString, QString> query { { QStringLiteral("account"), account }, { QStringLiteral("service"), service } };
    const QDBusMessage found = call(servicePath, serviceInterface, QStringLiteral("SearchItems"), { QVariant::fromValue(query) });
    QList<QMap<QString, QString>> items;
    if (found.type() == QDBusMessage::ErrorMessage)
        return items;
    for (const QVariant& list : found.arguments()) {
        for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(list)) {
            QDBusReply<QDBusVariant> attributes = call(path.path(), propertiesInterface, QStringLiteral("Get"),
                { QStringLiteral("org.freedesktop.Secret.Item"), QStringLiteral("Attributes") });
            items.append(qdbus_cast<QMap<QString, QString>>(attributes.value().variant()));
        }
    }
    return items;
}

} // namespace SecretServiceControl

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
    if (!waitUntilRunning(true))
        return fail(why, QStringLiteral("the new keyring daemon did not take its name"));
    // The daemon takes its name before it has loaded and unlocked the login
    // keyring; until then a search finds nothing.
    const QDeadlineTimer deadline(60000);
    for (QString path = SecretServiceControl::defaultCollectionPath();
         path.isEmpty() || path == u"/" || SecretServiceControl::isDefaultCollectionLocked();
         path = SecretServiceControl::defaultCollectionPath()) {
        if (deadline.hasExpired())
            return fail(why, QStringLiteral("the new keyring daemon did not unlock its keyring"));
        QThread::msleep(20);
    }
    return true;
}

} // namespace KeyringDaemon
