#pragma once

// A desktop notification service for tests: it owns
// org.freedesktop.Notifications on the tests' session bus, answers as a
// server with the capabilities it is given, and records every notification.
// Several test programs on one bus take turns: a recorder queues for the name
// until an earlier one has gone (waitUntilRegistered).

#include <QDBusConnection>
#include <QVariantMap>

struct RecordedNotification
{
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;

    bool operator==(const RecordedNotification&) const = default;
};

class NotificationRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited MEMBER inhibited SCRIPTABLE true)

public:
    // Capabilities of a server that shows bodies and nothing more.
    explicit NotificationRecorder(
        const QStringList& serverCapabilities = { QStringLiteral("body") });
    // Leaving the bus gives the name to the next recorder in the queue.
    ~NotificationRecorder() override { QDBusConnection::disconnectFromBus(m_connection.name()); }

    bool waitUntilRegistered();

    // The user clicks notification id, or closes it.
    void click(uint id) { emit ActionInvoked(id, QStringLiteral("default")); }
    void close(uint id) { emit NotificationClosed(id, 2); }

    // What the server answers to GetCapabilities, and its do-not-disturb.
    QStringList capabilities;
    bool inhibited = false;
    // Every notification in the order they came.
    QList<RecordedNotification> notifications;

public slots:
    // The part of the server's D-Bus interface the suite calls.
    Q_SCRIPTABLE QStringList GetCapabilities() { return capabilities; }
    Q_SCRIPTABLE uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
        const QString& summary, const QString& body, const QStringList& actions,
        const QVariantMap& hints, int expireTimeout)
    {
        notifications.append(
            { appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout });
        emit notified();
        return replacesId != 0 ? replacesId : uint(notifications.size());
    }

signals:
    Q_SCRIPTABLE void ActionInvoked(uint id, const QString& actionKey);
    Q_SCRIPTABLE void NotificationClosed(uint id, uint reason);
    // A notification has just been recorded.
    void notified();

private:
    QDBusConnection m_connection;
};
