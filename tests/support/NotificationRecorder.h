#pragma once

// A desktop notification service for tests: it owns
// org.freedesktop.Notifications on the tests' session bus, answers as a
// server with the capabilities it is given, and records every notification.
// Several test programs on one bus take turns: a recorder queues for the name
// until an earlier one has gone (waitUntilRegistered).

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
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
};

class NotificationRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited MEMBER m_inhibited SCRIPTABLE true)

public:
    // Capabilities of a server that shows bodies and nothing more.
    explicit NotificationRecorder(const QStringList& capabilities = { QStringLiteral("body") });
    ~NotificationRecorder() override;

    bool waitUntilRegistered();

    void setCapabilities(const QStringList& capabilities) { m_capabilities = capabilities; }
    // The desktop's do-not-disturb.
    void setInhibited(bool inhibited) { m_inhibited = inhibited; }
    // The user clicks notification id, or closes it.
    void click(uint id) { emit ActionInvoked(id, QStringLiteral("default")); }
    void close(uint id) { emit NotificationClosed(id, 2); }
    QList<RecordedNotification> notifications() const { return m_notifications; }
    void clear() { m_notifications.clear(); }

public slots:
    // The part of the server's D-Bus interface the suite calls.
    Q_SCRIPTABLE QStringList GetCapabilities() { return m_capabilities; }
    Q_SCRIPTABLE uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
        const QString& summary, const QString& body, const QStringList& actions,
        const QVariantMap& hints, int expireTimeout);

signals:
    Q_SCRIPTABLE void ActionInvoked(uint id, const QString& actionKey);
    Q_SCRIPTABLE void NotificationClosed(uint id, uint reason);
    // A notification has just been recorded.
    void notified();

private:
    QString m_connectionName;
    QDBusConnection m_connection;
    QStringList m_capabilities;
    QList<RecordedNotification> m_notifications;
    bool m_inhibited = false;
};
