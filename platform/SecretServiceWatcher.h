#pragma once

// Tells when the desktop's secure item store may have become usable: its
// service has come onto the session bus, or a collection of it has been
// unlocked. A program that found the store locked or missing at login waits
// for these instead of taking it for an empty one.

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <memory>

class QDBusServiceWatcher;
class SecretServiceSignals;

class SecretServiceWatcher : public QObject
{
    Q_OBJECT

public:
    // Watching is in effect on the bus by the time the constructor returns,
    // so a change right after it is not missed.
    explicit SecretServiceWatcher(const QDBusConnection& connection = QDBusConnection::sessionBus(),
        QObject* parent = nullptr);
    ~SecretServiceWatcher() override;

signals:
    void serviceRegistered();
    void collectionUnlocked(const QDBusObjectPath& collection);

private:
    void onCollectionChanged(const QDBusObjectPath& collection);

    QDBusConnection m_connection;
    std::unique_ptr<QDBusServiceWatcher> m_serviceWatcher;
    std::unique_ptr<SecretServiceSignals> m_signals;
};
