#pragma once

// Tells when the desktop's secure item store may have become usable. At login
// the keyring is often still locked, or its daemon not yet on the bus: a
// program that found it so waits for storeReady and reads again, instead of
// taking the store for an empty one. The wait follows the bus and the Secret
// Service's own signals, so a program that waits is never woken for nothing.

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

class QDBusServiceWatcher;

class SecretServiceWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SecretServiceWatcher(const QDBusConnection& connection = QDBusConnection::sessionBus(),
        QObject* parent = nullptr);
    ~SecretServiceWatcher() override;

    // Begins watching, or goes on; the reason is what the keyring's state is
    // on this system ("the keyring is locked"), logged once for each change
    // of it. storeReady follows once from the event loop when watching begins
    // (the store may have come back between the failed read and this call),
    // then whenever the service gets a new owner on the bus, a collection is
    // created, or one is unlocked.
    void start(const QString& reason);
    // May be called from a slot of storeReady.
    void stop();
    bool isWatching() const { return m_watching; }
    // From now on itemsChanged follows, once for each turn of the event
    // loop, whenever an item of any collection is created, deleted or changed.
    void watchItems();

signals:
    void storeReady();
    void itemsChanged();

private slots:
    void onServiceOwnerChanged(
        const QString& name, const QString& oldOwner, const QString& newOwner);
    void onCollectionCreated(const QDBusObjectPath& collection);
    void onCollectionChanged(const QDBusObjectPath& collection);
    void onItemSignal(const QDBusObjectPath& item);
    void onCollectionPropertiesChanged(
        const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void watchBus();
    void emitIfWatching();

    QDBusConnection m_connection;
    std::unique_ptr<QDBusServiceWatcher> m_serviceWatcher;
    QString m_reason;
    bool m_watching = false;
    bool m_watchingItems = false;
    bool m_itemsChangedQueued = false;
};
