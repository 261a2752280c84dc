#pragma once

// Tells when the desktop's secure item store may have become usable. At login
// the keyring is often still locked, or its daemon not yet on the bus: a
// program that found it so waits for storeReady and reads again, instead of
// taking the store for an empty one.

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

class QDBusServiceWatcher;
class SecretServiceSignals;

class SecretServiceWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SecretServiceWatcher(const QDBusConnection& connection = QDBusConnection::sessionBus(),
        QObject* parent = nullptr);
    ~SecretServiceWatcher() override;

    // Begins watching; nothing when already watching. storeReady follows once
    // from the event loop (the store may have come back between the failed
    // read and this call), then whenever the service comes onto the bus or a
    // collection is unlocked, and every retry interval besides, since the
    // service may answer only a while after it appeared.
    void start();
    // May be called from a slot of storeReady.
    void stop();
    bool isWatching() const { return m_watching; }

    static constexpr std::chrono::milliseconds RetryInterval { 2000 };

signals:
    void storeReady();

private:
    void watchBus();
    void onCollectionChanged(const QDBusObjectPath& collection);
    void emitIfWatching();

    QDBusConnection m_connection;
    std::unique_ptr<QDBusServiceWatcher> m_serviceWatcher;
    std::unique_ptr<SecretServiceSignals> m_signals;
    QTimer m_retry;
    bool m_watching = false;
};
