#include "platform/SecretServiceWatcher.h"

#include "platform/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <utility>

namespace {

const QString secretsService = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

SecretServiceWatcher::SecretServiceWatcher(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
}

SecretServiceWatcher::~SecretServiceWatcher() = default;

void SecretServiceWatcher::start(const QString& reason)
{
    if (reason != m_reason) {
        qCWarning(lcKeyring).noquote() << "Waiting for the keyring:" << reason;
        m_reason = reason;
    }
    if (m_watching)
        return;
    m_watching = true;
    if (!m_serviceWatcher)
        watchBus();
    QMetaObject::invokeMethod(this, &SecretServiceWatcher::emitIfWatching, Qt::QueuedConnection);
}

void SecretServiceWatcher::stop()
{
    if (m_watching)
        qCInfo(lcKeyring) << "The keyring answers again";
    m_watching = false;
    m_reason.clear();
}

void SecretServiceWatcher::emitIfWatching()
{
    if (m_watching)
        emit storeReady();
}

// Set up on the first wait only, and kept: a program whose store answers at
// once never asks the bus for any of it. The signals are taken from whoever
// sends them: given the service's name, QtDBus would look up its owner with a
// call that holds the window until the bus answers. A stray sender costs no
// more than one read of the store too many, and the rules hold across a
// restarted daemon without following its name.
void SecretServiceWatcher::watchBus()
{
    m_serviceWatcher = std::make_unique<QDBusServiceWatcher>(
        secretsService, m_connection, QDBusServiceWatcher::WatchForOwnerChange);
    connect(m_serviceWatcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
        &SecretServiceWatcher::onServiceOwnerChanged);
    m_connection.connect(QString(), secretsPath, serviceInterface,
        QStringLiteral("CollectionCreated"), this, SLOT(onCollectionCreated(QDBusObjectPath)));
    m_connection.connect(QString(), secretsPath, serviceInterface,
        QStringLiteral("CollectionChanged"), this, SLOT(onCollectionChanged(QDBusObjectPath)));
    // Every collection's, whatever its path: the record may be in any of them.
    m_connection.connect(QString(), QString(), propertiesInterface,
        QStringLiteral("PropertiesChanged"), { collectionInterface }, QString(), this,
        SLOT(onCollectionPropertiesChanged(QString, QVariantMap, QStringList)));
    // The match rules go out on this connection ahead of this call, so once it
    // is answered they are in force: a daemon that came up before then is
    // seen in the answer, one that comes up later by the watcher.
    if (!m_connection.isConnected())
        return;
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("NameHasOwner"));
    hasOwner << secretsService;
    auto* call = new QDBusPendingCallWatcher(m_connection.asyncCall(hasOwner), this);
    connect(
        call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<bool> owned = *finished;
            if (!owned.isError() && owned.value())
                emitIfWatching();
        });
}

void SecretServiceWatcher::watchItems()
{
    if (std::exchange(m_watchingItems, true))
        return;
    for (const char* member : { "ItemCreated", "ItemDeleted", "ItemChanged" })
        // Any sender's, as watchBus takes its signals.
        m_connection.connect(QString(), QString(), collectionInterface, QString::fromLatin1(member),
            this, SLOT(onItemSignal(QDBusObjectPath)));
}

// A save or a clear is a few such signals in a row: they make one.
void SecretServiceWatcher::onItemSignal(const QDBusObjectPath&)
{
    if (std::exchange(m_itemsChangedQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_itemsChangedQueued = false;
            emit itemsChanged();
        },
        Qt::QueuedConnection);
}

void SecretServiceWatcher::onServiceOwnerChanged(
    const QString&, const QString&, const QString& newOwner)
{
    // A daemon that left is no news: the reads already fail.
    if (!newOwner.isEmpty())
        emitIfWatching();
}

void SecretServiceWatcher::onCollectionCreated(const QDBusObjectPath&)
{
    emitIfWatching();
}

// The signal does not say what changed; only an unlock is of interest.
void SecretServiceWatcher::onCollectionChanged(const QDBusObjectPath& collection)
{
    if (!m_watching)
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        secretsService, collection.path(), propertiesInterface, QStringLiteral("Get"));
    get << collectionInterface << QStringLiteral("Locked");
    auto* call = new QDBusPendingCallWatcher(m_connection.asyncCall(get), this);
    connect(
        call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusVariant> locked = *finished;
            if (!locked.isError() && !locked.value().variant().toBool())
                emitIfWatching();
        });
}

void SecretServiceWatcher::onCollectionPropertiesChanged(
    const QString&, const QVariantMap& changed, const QStringList&)
{
    const auto locked = changed.constFind(QStringLiteral("Locked"));
    if (locked != changed.constEnd() && !locked->toBool())
        emitIfWatching();
}
