#include "support/SecretServiceControl.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

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

bool fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Secret)

namespace SecretServiceControl {

QString defaultCollectionPath(QString* why)
{
    QDBusInterface service(secretsName, servicePath, QStringLiteral("org.freedesktop.Secret.Service"));
    QDBusReply<QDBusObjectPath> alias = service.call(QStringLiteral("ReadAlias"), QStringLiteral("default"));
    if (!alias.isValid()) {
        fail(why, alias.error().message());
        return {};
    }
    return alias.value().path();
}

bool lockDefaultCollection(QString* why)
{
    const QString collection = defaultCollectionPath(why);
    if (collection.isEmpty() || collection == u"/")
        return fail(why, QStringLiteral("no default collection"));
    QDBusInterface service(secretsName, servicePath, QStringLiteral("org.freedesktop.Secret.Service"));
    const QDBusMessage reply = service.call(QStringLiteral("Lock"),
        QVariant::fromValue(QList<QDBusObjectPath> { QDBusObjectPath(collection) }));
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(why, reply.errorMessage());
    return isDefaultCollectionLocked() || fail(why, QStringLiteral("the collection is still unlocked"));
}

bool unlockDefaultCollection(QString* why)
{
    qDBusRegisterMetaType<Secret>();
    const QString collection = defaultCollectionPath(why);
    if (collection.isEmpty() || collection == u"/")
        return fail(why, QStringLiteral("no default collection"));
    QDBusInterface service(secretsName, servicePath, QStringLiteral("org.freedesktop.Secret.Service"));
    const QDBusMessage opened = service.call(QStringLiteral("OpenSession"), QStringLiteral("plain"),
        QVariant::fromValue(QDBusVariant(QString())));
    if (opened.type() == QDBusMessage::ErrorMessage || opened.arguments().size() < 2)
        return fail(why, opened.errorMessage());
    const auto session = opened.arguments().at(1).value<QDBusObjectPath>();

    // gnome-keyring's own interface for unlocking with a password in hand.
    QDBusInterface internal(secretsName, servicePath,
        QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"));
    const Secret master { session, {}, QByteArray(TARVENDESK_TEST_KEYRING_PASSWORD), QStringLiteral("text/plain") };
    const QDBusMessage reply = internal.call(QStringLiteral("UnlockWithMasterPassword"),
        QVariant::fromValue(QDBusObjectPath(collection)), QVariant::fromValue(master));
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(why, reply.errorMessage());
    return !isDefaultCollectionLocked() || fail(why, QStringLiteral("the collection is still locked"));
}

bool isDefaultCollectionLocked()
{
    const QString collection = defaultCollectionPath();
    QDBusInterface properties(secretsName, collection, QStringLiteral("org.freedesktop.DBus.Properties"));
    QDBusReply<QDBusVariant> locked = properties.call(QStringLiteral("Get"),
        QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked"));
    return locked.isValid() && locked.value().variant().toBool();
}

QList<QMap<QString, QString>> itemAttributes(const QString& account, const QString& service)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusInterface secrets(secretsName, servicePath, QStringLiteral("org.freedesktop.Secret.Service"));
    const QMap<QString, QString> query { { QStringLiteral("account"), account }, { QStringLiteral("service"), service } };
    const QDBusMessage found = secrets.call(QStringLiteral("SearchItems"), QVariant::fromValue(query));
    QList<QMap<QString, QString>> items;
    if (found.type() == QDBusMessage::ErrorMessage)
        return items;
    for (const QVariant& list : found.arguments()) {
        for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(list)) {
            QDBusInterface properties(secretsName, path.path(), QStringLiteral("org.freedesktop.DBus.Properties"));
            QDBusReply<QDBusVariant> attributes = properties.call(QStringLiteral("Get"),
                QStringLiteral("org.freedesktop.Secret.Item"), QStringLiteral("Attributes"));
            items.append(qdbus_cast<QMap<QString, QString>>(attributes.value().variant()));
        }
    }
    return items;
}

} // namespace SecretServiceControl
