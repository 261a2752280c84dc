#include "platform/SecretServiceWatcher.h"

#include "platform/Logging.h"

#include <QDBusAbstractInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString secretsService = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");

} // namespace

// The service object's signals as Qt signals: QtDBus relays a remote signal to
// the proxy's signal of the same name and arguments once it is connected, and
// keeps following the name to whichever daemon owns it.
class SecretServiceSignals : public QDBusAbstractInterface
{
    Q_OBJECT

public:
    explicit SecretServiceSignals(const QDBusConnection& connection)
        : QDBusAbstractInterface(
            secretsService, secretsPath, "org.freedesktop.Secret.Service", connection, nullptr)
    {
    }

signals:
    // A collection was locked, unlocked or otherwise changed.
    void CollectionChanged(const QDBusObjectPath& collection);
};

SecretServiceWatcher::SecretServiceWatcher(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    m_retry.setInterval(RetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &SecretServiceWatcher::emitIfWatching);
}

SecretServiceWatcher::~SecretServiceWatcher() = default;

void SecretServiceWatcher::start()
{
    if (m_watching)
        return;
    qCWarning(lcKeyring) << "The keyring is locked or not running; waiting for it";
    m_watching = true;
    if (!m_serviceWatcher)
        watchBus();
    QMetaObject::invokeMethod(
        this, &SecretServiceWatcher::emitIfWatching, Qt::QueuedConnection);
    m_retry.start();
}

void SecretServiceWatcher::stop()
{
    m_watching = false;
    m_retry.stop();
}

void SecretServiceWatcher::emitIfWatching()
{
    if (m_watching)
        emit storeReady();
}

// Set up on the first wait only, and kept: a program whose store answers at
// once never asks the bus for any of it.
void SecretServiceWatcher::watchBus()
{
    m_serviceWatcher = std::make_unique<QDBusServiceWatcher>(
        secretsService, m_connection, QDBusServiceWatcher::WatchForRegistration);
    m_signals = std::make_unique<SecretServiceSignals>(m_connection);
    connect(m_serviceWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this,
        &SecretServiceWatcher::emitIfWatching);
    connect(m_signals.get(), &SecretServiceSignals::CollectionChanged, this,
        &SecretServiceWatcher::onCollectionChanged);
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
    connect(call, &QDBusPendingCallWatcher::finished, this,
        [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<bool> owned = *finished;
            if (!owned.isError() && owned.value())
                emitIfWatching();
        });
}

void SecretServiceWatcher::onCollectionChanged(const QDBusObjectPath& collection)
{
    if (!m_watching)
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(secretsService, collection.path(),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << collectionInterface << QStringLiteral("Locked");
    auto* call = new QDBusPendingCallWatcher(m_connection.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
        [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusVariant> locked = *finished;
            if (!locked.isError() && !locked.value().variant().toBool())
                emitIfWatching();
        });
}

#include "SecretServiceWatcher.moc"
